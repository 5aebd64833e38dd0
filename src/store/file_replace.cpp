#include "store/file_replace.h"

#include <QDir>
#include <QSaveFile>

namespace kelvaro {

QString folderForOperator(const QString& folder)
{
    return QDir::toNativeSeparators(QDir(folder).absolutePath());
}

FileResult replaceFileAtomically(const QString& folder, const QString& fileName,
                                 const QByteArray& bytes,
                                 std::optional<QFileDevice::Permissions> permissions)
{
    QSaveFile file(QDir(folder).filePath(fileName));
    // Never fall back to writing the old file in place: a failure half way would lose it.
    file.setDirectWriteFallback(false);
    const auto failure = [&](const QString& why) {
        return FileResult::failure(
            QStringLiteral("%1 could not be saved in %2: %3. The previous file is unchanged.")
                .arg(fileName, folderForOperator(folder), why));
    };
    // Unbuffered, so that every write reaches the file engine here and a short write is
    // seen: Qt 6.4 commits a buffered QSaveFile even when flushing its buffer at commit
    // wrote only part of it (a full disk), which would replace the file with a truncated one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(file.errorString());
    // Set on the temporary file, so that the file never appears under its name with others.
    if (permissions && !file.setPermissions(*permissions)) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failure(why);
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            break; // the failed write leaves the system's reason in errorString()
        written += n;
    }
    if (written < bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failure(why);
    }
    if (!file.commit())
        return failure(file.errorString());
    return FileResult::success();
}

} // namespace kelvaro
