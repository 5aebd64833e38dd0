#pragma once
// "Parameters.txt": a snapshot of the twenty register words, one "ParamK",value line each.

#include "core/register_image.h"
#include "store/file_result.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace kelvaro {

inline const QString ParametersFileName = QStringLiteral("Parameters.txt");

using RegisterWords = std::array<qint32, RegisterCount>;

// Replaces <folder>/Parameters.txt atomically with `words`.
FileResult SaveParameters(const RegisterWords& words, const QString& folder);

// Reads <folder>/Parameters.txt into `words`, all or nothing: `words` changes only when
// twenty values were read. Reads at most the first twenty lines.
FileResult LoadParameters(RegisterWords& words, const QString& folder);

QByteArray parametersFileBytes(const RegisterWords& words);
// Twenty values from file bytes, or no value with `error` saying why.
std::optional<RegisterWords> parseParameters(const QByteArray& bytes, QString* error = nullptr);

} // namespace kelvaro
