#pragma once
// The fuzz targets' one way to report a broken property: name it and abort, so libFuzzer
// saves the input as a crash.

#include <cstdio>
#include <cstdlib>

namespace kelvaro::fuzz {

inline void require(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

} // namespace kelvaro::fuzz
