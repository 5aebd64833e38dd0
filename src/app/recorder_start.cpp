#include "app/recorder_start.h"

#include "app/metrics_path.h"
#include "app/recorder_settings.h"
#include "link/settings_check.h"
#include "store/settings_file.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kelvaro {

void keepStandardStreams()
{
#ifdef Q_OS_UNIX
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
#endif
}

int prepareRecorderSettings(Settings_Record& settings, const QString& folder, bool deviceGiven,
                            const JournalWriter& tell)
{
    const QString file = QDir::toNativeSeparators(QDir(folder).filePath(SettingsFileName));
    const QString notStarted =
        QStringLiteral("not started: correct %1, or move it away to start with the starting "
                       "settings")
            .arg(file);
    Settings_Record read;
    const SettingsRead result = readSettingsFile(read, folder);
    switch (result.kind) {
    case SettingsRead::Kind::Missing: {
        settings = recorderStartSettings();
        const FileResult written = SaveSettings(settings, folder);
        tell(written ? QStringLiteral("wrote a starting Settings.txt in %1 (port 1, 9600 baud, "
                                      "logging of temperature and relay)")
                           .arg(folder)
                     : QStringLiteral("no Settings.txt in %1 and none could be written: %2; "
                                      "running on the starting settings (port 1, 9600 baud, "
                                      "logging of temperature and relay)")
                           .arg(folder, written.reason()));
        return 0;
    }
    case SettingsRead::Kind::Unreadable:
        tell(QStringLiteral("%1 cannot be read: %2").arg(file, result.reason));
        tell(notStarted);
        return SettingsErrorStatus;
    case SettingsRead::Kind::Stopped:
        tell(findingText({result.line, result.reason}));
        tell(notStarted);
        return SettingsErrorStatus;
    case SettingsRead::Kind::Whole:
        break;
    }
    const StartSettingsCheck check =
        checkStartSettings(read, folder, deviceGiven, QDate::currentDate());
    for (const SettingsFinding& fault : check.faults)
        tell(findingText(fault));
    if (!check.faults.isEmpty()) {
        tell(notStarted);
        return SettingsErrorStatus;
    }
    for (const SettingsFinding& note : check.notes)
        tell(findingText(note));
    settings = read;
    return 0;
}

int prepareRecorder(const QString& folder, bool deviceGiven,
                    const std::optional<QString>& metricsPath, FolderLock& lock,
                    Settings_Record& settings, const JournalWriter& tell)
{
    switch (lock.lock(folder, QCoreApplication::applicationName())) {
    case FolderLock::Result::Locked:
        break;
    case FolderLock::Result::Held:
        tell(QStringLiteral("not started: the board folder %1 is in use by %2")
                 .arg(folder, lock.holder()));
        return 1;
    case FolderLock::Result::NoLock:
        tell(QStringLiteral("the board folder %1 cannot be locked against a second recorder: %2")
                 .arg(folder, lock.why()));
        break;
    }
    if (const int status = prepareRecorderSettings(settings, folder, deviceGiven, tell))
        return status;
    if (metricsPath) {
        if (const auto problem =
                metricsPathProblem(*metricsPath, folder, settings.Log_NameFormat.toText())) {
            tell(QStringLiteral("not started: --metrics %1: %2").arg(*metricsPath, *problem));
            return 2;
        }
    }
    return 0;
}

} // namespace kelvaro
