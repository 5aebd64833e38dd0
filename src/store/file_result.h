#pragma once
// The outcome of a file operation the operator may need to hear about: success, or a
// failure with what failed and why.

#include "core/outcome.h"

namespace kelvaro {

using FileResult = Outcome<void>;

} // namespace kelvaro
