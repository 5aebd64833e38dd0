// The day's log file: its name from the date pattern, and appending one line to it
// without ever writing outside the working folder or leaving half a line behind.
#include "logging/log_file.h"

#include "logging/log_recorder.h"
#include "store/parameter_file.h"
#include "store/settings_file.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#endif

namespace kelvaro {

namespace {

constexpr qsizetype MaxFileNameBytes = 200;
const QString LogSuffix = QStringLiteral(".txt");

QString zeroPadded(int value, int width)
{
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

#ifdef Q_OS_WIN
bool isReservedDeviceName(const QString& name)
{
    // Windows maps these names, with any extension, to devices.
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList fixed = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (fixed.contains(base))
        return true;
    return base.size() == 4 && (base.startsWith(u"COM") || base.startsWith(u"LPT")) &&
           base[3] >= QLatin1Char('1') && base[3] <= QLatin1Char('9');
}
#endif

// Why `name` is not a plain file name inside the working folder, in the operator's words;
// no value when it is one.
std::optional<QString> fileNameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    if (name == u"." || name == u"..")
        return QStringLiteral("\".\" and \"..\" name folders, not files");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("it contains a folder separator (\"/\" or \"\\\")");
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("it contains a control character");
    }
    const QByteArray utf8 = name.toUtf8();
    if (QString::fromUtf8(utf8) != name)
        return QStringLiteral("it contains a character that is not valid text");
    if (utf8.size() > MaxFileNameBytes)
        return QStringLiteral("it is longer than %1 bytes").arg(MaxFileNameBytes);
#ifdef Q_OS_WIN
    for (const QChar c : name) {
        if (QStringView(u"<>:\"|?*").contains(c))
            return QStringLiteral("it contains one of the characters < > : \" | ? *");
    }
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("it ends in a dot or a space");
    if (isReservedDeviceName(name))
        return QStringLiteral("it is the name of a device");
#endif
    return std::nullopt;
}

QString openFailure(const QString& fileName, const QString& why)
{
    return QStringLiteral("The log file \"%1\" could not be opened: %2.").arg(fileName, why);
}

QString writeFailure(const QString& fileName, const QString& why)
{
    return QStringLiteral("The log line could not be written to \"%1\": %2.").arg(fileName, why);
}

#ifdef Q_OS_UNIX

QString openErrorText(const QString& fileName, int error)
{
    switch (error) {
    case ELOOP:
    case EMLINK: // FreeBSD's answer to O_NOFOLLOW on a link
        return QStringLiteral("\"%1\" is a symbolic link, and the log is never written "
                              "through a link")
            .arg(fileName);
    case EISDIR:
        return QStringLiteral("a folder of that name is in the way");
    case ENXIO: // a FIFO without a reader, opened non-blocking
        return QStringLiteral("it is not a regular file");
    default:
        return qt_error_string(error);
    }
}

FileResult appendPosix(const QString& path, const QString& fileName, const QByteArray& bytes)
{
    const QByteArray nativePath = QFile::encodeName(path);
    // O_NOFOLLOW: a link named like the day's file, wherever it points, is refused.
    // O_NONBLOCK: a FIFO in the file's place fails at once instead of blocking the
    // refresh timer until some reader appears.
    int fd = -1;
    do {
        fd = ::open(nativePath.constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return FileResult::failure(openFailure(fileName, openErrorText(fileName, errno)));

    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileResult::failure(
            openFailure(fileName, QStringLiteral("it is not a regular file")));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    const logfile::AppendOutcome outcome = logfile::appendAll(fd, bytes);
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    const int closeResult = ::close(fd);
    const int closeError = errno;
    if (outcome.error != 0) {
        QString why = qt_error_string(outcome.error);
        if (outcome.partialLeft)
            why += QStringLiteral("; part of the line may remain at the end of the file");
        return FileResult::failure(writeFailure(fileName, why));
    }
    if (closeResult != 0)
        return FileResult::failure(writeFailure(fileName, qt_error_string(closeError)));
    return FileResult::success();
}

#else

FileResult appendWithQFile(const QString& path, const QString& fileName, const QByteArray& bytes)
{
    // Without O_NOFOLLOW the check and the open are two steps; good enough on systems
    // where creating links needs privileges.
    const QFileInfo info(path);
    if (info.isSymbolicLink() || info.isJunction())
        return FileResult::failure(openFailure(
            fileName,
            QStringLiteral("\"%1\" is a link, and the log is never written through a link")
                .arg(fileName)));
    if (info.exists() && !info.isFile())
        return FileResult::failure(
            openFailure(fileName, QStringLiteral("it is not a regular file")));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return FileResult::failure(openFailure(fileName, file.errorString()));
    const qint64 sizeBefore = file.size();
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        QString why = file.errorString();
        if (file.size() != sizeBefore && !file.resize(sizeBefore))
            why += QStringLiteral("; part of the line may remain at the end of the file");
        file.close();
        return FileResult::failure(writeFailure(fileName, why));
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return FileResult::failure(writeFailure(fileName, file.errorString()));
    return FileResult::success();
}

#endif

} // namespace

#ifdef Q_OS_UNIX

namespace logfile {

AppendOutcome appendAll(int fd, QByteArrayView bytes)
{
    struct stat info
    {
    };
    const bool sizeKnown = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        AppendOutcome outcome;
        outcome.error = n < 0 ? errno : EIO; // a write of 0 bytes would loop forever
        if (done > 0) {
            int cut = -1;
            if (sizeKnown) {
                do {
                    cut = ::ftruncate(fd, info.st_size);
                } while (cut != 0 && errno == EINTR);
            }
            outcome.partialLeft = cut != 0;
        }
        return outcome;
    }
    return {};
}

} // namespace logfile

#endif

LogDateToken logDateToken(QStringView rest, qsizetype* length)
{
    struct Token
    {
        QStringView text;
        LogDateToken token;
    };
    // Longest first, so "YYYY" is not read as two "YY" and "DD" not as two "D".
    static constexpr Token tokens[] = {
        {u"YYYY", LogDateToken::Year4}, {u"yyyy", LogDateToken::Year4},
        {u"YY", LogDateToken::Year2},   {u"DD", LogDateToken::Day2},
        {u"dd", LogDateToken::Day2},    {u"D", LogDateToken::Day},
        {u"MM", LogDateToken::Month2},  {u"mm", LogDateToken::Month2},
        {u"M", LogDateToken::Month},
    };
    for (const Token& t : tokens) {
        if (rest.startsWith(t.text)) {
            *length = t.text.size();
            return t.token;
        }
    }
    *length = 1;
    return LogDateToken::Literal;
}

QString formatLogDate(const QString& pattern, const QDate& date)
{
    const int year = date.year();
    QString text;
    text.reserve(pattern.size() + 4);
    const QStringView p(pattern);
    for (qsizetype i = 0; i < p.size();) {
        qsizetype length = 0;
        switch (logDateToken(p.sliced(i), &length)) {
        case LogDateToken::Year4:
            text += zeroPadded(year, 4);
            break;
        case LogDateToken::Year2:
            text += zeroPadded(std::abs(year % 100), 2);
            break;
        case LogDateToken::Day2:
            text += zeroPadded(date.day(), 2);
            break;
        case LogDateToken::Day:
            text += QString::number(date.day());
            break;
        case LogDateToken::Month2:
            text += zeroPadded(date.month(), 2);
            break;
        case LogDateToken::Month:
            text += QString::number(date.month());
            break;
        case LogDateToken::Literal:
            text += p[i];
            break;
        }
        i += length;
    }
    return text;
}

QString formatLogTime(const QTime& time)
{
    return zeroPadded(time.hour(), 2) % QLatin1Char(':') % zeroPadded(time.minute(), 2) %
           QLatin1Char(':') % zeroPadded(time.second(), 2);
}

Outcome<QString> logFileName(const QString& pattern, const QDate& date)
{
    const QString stem = formatLogDate(pattern, date);
    if (stem.isEmpty())
        return failure(QStringLiteral("the pattern is empty"));
    if (stem == u"." || stem == u"..")
        return failure(QStringLiteral("\".\" and \"..\" name folders, not files"));
    const QString name = stem + LogSuffix;
    if (const std::optional<QString> problem = fileNameProblem(name))
        return failure(*problem);
    // Appending log lines to the settings or the parameters would corrupt them. Compared
    // without case, since the folder may be on a file system that ignores it.
    for (const QString& own : {SettingsFileName, ParametersFileName}) {
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return failure(QStringLiteral("it names the program's own file %1").arg(own));
    }
    return name;
}

FileResult AppendLogLine(const QString& folder, const QString& fileName, const QString& line)
{
    if (const auto problem = fileNameProblem(fileName))
        return FileResult::failure(
            QStringLiteral("The log file name \"%1\" cannot be used: %2.").arg(fileName, *problem));
    const QString path = QDir(folder).filePath(fileName);
    QByteArray bytes = (line.isEmpty() ? QString() : line.chopped(1)).toUtf8();
    bytes += "\r\n";
#ifdef Q_OS_UNIX
    return appendPosix(path, fileName, bytes);
#else
    return appendWithQFile(path, fileName, bytes);
#endif
}

} // namespace kelvaro
