#pragma once
// Small file helpers shared by the store tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace kelvaro::test {

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry of `folder`, hidden ones too: a failed save must leave no temporary file.
inline QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// Makes <folder>/<name> a link to /dev/zero, a file that never ends and holds no line end.
// False where there is no such device.
inline bool linkToEndlessFile(const QString& folder, const QString& name)
{
    return QFile::exists(QStringLiteral("/dev/zero")) &&
           QFile::link(QStringLiteral("/dev/zero"), QDir(folder).filePath(name));
}

} // namespace kelvaro::test
