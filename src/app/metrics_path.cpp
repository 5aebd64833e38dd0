#include "app/metrics_path.h"

#include "app/folder_lock.h"
#include "history/log_files.h"
#include "logging/log_recorder.h"
#include "store/parameter_file.h"
#include "store/settings_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kelvaro {

namespace {

// The board folder's own files by name, when `name` is one of them.
std::optional<QString> boardFile(const QString& name, const QString& logPattern)
{
    if (name == SettingsFileName || name == ParametersFileName || name == FolderLockFileName)
        return QStringLiteral("it is the board folder's %1").arg(name);
    // A pattern without a whole date makes one name for every day.
    const Outcome<QString> today = logFileName(logPattern, QDate::currentDate());
    if (logDateFromFileName(logPattern, name) || (today && today.value() == name))
        return QStringLiteral("it is a name of the board folder's daily log files");
    static const QRegularExpression portLink(QStringLiteral("^com[0-9]+$"));
    if (portLink.match(name).hasMatch())
        return QStringLiteral("it is the name of a port link of the board folder");
    return std::nullopt;
}

} // namespace

std::optional<QString> metricsPathProblem(const QString& path, const QString& folder,
                                          const QString& logPattern)
{
    const QFileInfo file(path);
    const QFileInfo parent(file.absolutePath());
    if (!parent.isDir())
        return QStringLiteral("its folder %1 does not exist")
            .arg(QDir::toNativeSeparators(file.absolutePath()));
    if (file.fileName().isEmpty())
        return QStringLiteral("it names no file");
    // The same folder reached by another path (a link, "..") is the same folder.
    if (parent.canonicalFilePath() == QFileInfo(folder).canonicalFilePath()) {
        if (const auto own = boardFile(file.fileName(), logPattern))
            return own;
    }
    if (file.isSymLink())
        return QStringLiteral("it is a symbolic link");
    if (file.exists() && !file.isFile())
        return file.isDir() ? QStringLiteral("it is a folder")
                            : QStringLiteral("it is not a regular file");
    return std::nullopt;
}

} // namespace kelvaro
