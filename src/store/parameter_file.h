#pragma once
// "Parameters.txt": a snapshot of the twenty register words, one "ParamK",value line each.

#include "core/register_image.h"
#include "store/file_result.h"

#include <QByteArray>
#include <QString>
#include <array>

namespace kelvaro {

inline const QString ParametersFileName = QStringLiteral("Parameters.txt");

using RegisterWords = std::array<qint32, RegisterCount>;

// Replaces <folder>/Parameters.txt atomically with `words`.
FileResult SaveParameters(const RegisterWords& words, const QString& folder);

// Reads <folder>/Parameters.txt into `words`, all or nothing: `words` changes only when
// twenty values were read, otherwise the reason says why. Reads at most the first twenty
// lines, each at most 64 KiB long, whatever the file holds. Each line needs a label
// (quoted or not, never checked), a comma and a number; a fraction rounds half to even,
// and the value must fit 32 signed bits. An empty value reads as 0 and a quoted number
// as that number, as a file edited by hand may hold them. Anything after the value on a
// line is ignored.
FileResult LoadParameters(RegisterWords& words, const QString& folder);

QByteArray parametersFileBytes(const RegisterWords& words);
// Twenty values from file bytes, or why not.
Outcome<RegisterWords> parseParameters(const QByteArray& bytes);

} // namespace kelvaro
