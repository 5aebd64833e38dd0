#include "logging/log_file.h"
#include "logging/log_recorder.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
#endif

using namespace kelvaro;

namespace {

enum class Obstacle
{
    LinkToFileOutside,
    DanglingLinkOutside,
    LinkToFileInside,
    Folder,
    Fifo,
    FifoWithReader,
    ParentInName,
    SubfolderInName,
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System);
}

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestLogFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formatLogDate_data();
    void formatLogDate();
    void logFileName_data();
    void logFileName();

    void appendLogLine_writesLineWithoutLastCharacterThenCrLf_data();
    void appendLogLine_writesLineWithoutLastCharacterThenCrLf();
    void appendLogLine_refusesAnythingButAPlainFileInTheFolder_data();
    void appendLogLine_refusesAnythingButAPlainFileInTheFolder();
    void appendLogLine_readOnlyFolder_reportsFailure();
    void appendAll_fullDevice_reportsNoSpace();
    void appendLogLine_limitReachedMidLine_leavesNoPartialLine();
};

void TestLogFile::formatLogDate_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("text");
    const QDate dec7(2026, 12, 7);
    const QDate mar5(2026, 3, 5);
    QTest::newRow("DD-MM-YYYY") << "DD-MM-YYYY" << dec7 << "07-12-2026";
    QTest::newRow("MM-DD-YYYY") << "MM-DD-YYYY" << dec7 << "12-07-2026";
    QTest::newRow("lower case dd-mm-yyyy") << "dd-mm-yyyy" << dec7 << "07-12-2026";
    QTest::newRow("YYYYMMDD") << "YYYYMMDD" << mar5 << "20260305";
    QTest::newRow("YY") << "YY-MM-DD" << QDate(2005, 1, 9) << "05-01-09";
    QTest::newRow("D and M without leading zero") << "D.M.YYYY" << mar5 << "5.3.2026";
    QTest::newRow("D and M with two digits") << "D.M" << dec7.addDays(10) << "17.12";
    QTest::newRow("literal characters") << "log_DD (x)" << dec7 << "log_07 (x)";
    QTest::newRow("single lower d, m, y are literal") << "daily m y DD" << dec7 << "daily m y 07";
    QTest::newRow("greedy: YYY is YY then Y") << "YYY" << dec7 << "26Y";
    QTest::newRow("greedy: DDD is DD then D") << "DDD" << dec7 << "077";
    QTest::newRow("four-digit year padded") << "YYYY" << QDate(987, 6, 1) << "0987";
    QTest::newRow("non-ASCII kept") << "Größe-DD" << dec7 << "Größe-07";
    QTest::newRow("a capital M in a word is the month") << "Messung-DD" << dec7 << "12essung-07";
}

void TestLogFile::formatLogDate()
{
    QFETCH(QString, pattern);
    QFETCH(QDate, date);
    QFETCH(QString, text);
    QCOMPARE(kelvaro::formatLogDate(pattern, date), text);
}

void TestLogFile::logFileName_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name"); // empty: refused
    QTest::newRow("DD-MM-YYYY") << "DD-MM-YYYY"
                                << "07-12-2026.txt";
    QTest::newRow("MM-DD-YYYY") << "MM-DD-YYYY"
                                << "12-07-2026.txt";
    QTest::newRow("spaces and letters") << "Log DD MM"
                                        << "Log 07 12.txt";
    QTest::newRow("name starting with dots") << "..DD"
                                             << "..07.txt";
    QTest::newRow("200 bytes with the suffix")
        << QString(196, u'a') << QString(196, u'a') + u".txt"_s;
    QTest::newRow("two-byte characters, 200 bytes")
        << QString(98, u'é') << QString(98, u'é') + u".txt"_s;
    QTest::newRow("parent folder") << "../x"
                                   << "";
    QTest::newRow("parent folder, backslash") << "..\\x"
                                              << "";
    QTest::newRow("dots and double slash") << "....//x"
                                           << "";
    QTest::newRow("absolute path") << "/tmp/x"
                                   << "";
    QTest::newRow("date with slashes") << "DD/MM/YYYY"
                                       << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("dot") << "."
                         << "";
    QTest::newRow("dot dot") << ".."
                             << "";
    QTest::newRow("control character") << "a\x01"
                                          "b"
                                       << "";
    QTest::newRow("NUL") << QString(QChar(0)) + u"DD"_s << "";
    QTest::newRow("line break") << "DD\r\n"
                                << "";
    QTest::newRow("201 bytes with the suffix") << QString(197, u'a') << "";
    QTest::newRow("two-byte characters, 202 bytes") << QString(99, u'é') << "";
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"DD"_s << "";
#ifdef Q_OS_WIN
    QTest::newRow("colon") << "DD:MM"
                           << "";
    QTest::newRow("question mark") << "DD?"
                                   << "";
    QTest::newRow("device name") << "CON"
                                 << "";
#else
    QTest::newRow("colon is fine here") << "DD:MM"
                                        << "07:12.txt";
#endif
}

void TestLogFile::logFileName()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    const kelvaro::Outcome<QString> result = kelvaro::logFileName(pattern, QDate(2026, 12, 7));
    if (name.isEmpty()) {
        QVERIFY(!result);
        QVERIFY(!result.reason().isEmpty());
    } else {
        QVERIFY2(result, qPrintable(result.reason()));
        QCOMPARE(result.value(), name);
        QVERIFY(result.reason().isEmpty());
    }
}

void TestLogFile::appendLogLine_writesLineWithoutLastCharacterThenCrLf_data()
{
    QTest::addColumn<QByteArray>("existing"); // null: no file yet
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("new file") << QByteArray() << "07-12-2026,17:05:03,23,1,2456,"
                              << QByteArray("07-12-2026,17:05:03,23,1,2456\r\n");
    QTest::newRow("appended after earlier lines")
        << QByteArray("a\r\nb\r\n") << "c," << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("earlier file without line end kept as it is")
        << QByteArray("a") << "c," << QByteArray("ac\r\n");
    QTest::newRow("UTF-8") << QByteArray() << "Messé," << QByteArray("Mess\xc3\xa9\r\n");
    QTest::newRow("empty line still ends the line") << QByteArray() << "" << QByteArray("\r\n");
}

void TestLogFile::appendLogLine_writesLineWithoutLastCharacterThenCrLf()
{
    QFETCH(QByteArray, existing);
    QFETCH(QString, line);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"07-12-2026.txt"_s);
    if (!existing.isNull())
        QVERIFY(writeFile(path, existing));
    const FileResult result = AppendLogLine(dir.path(), u"07-12-2026.txt"_s, line);
    QVERIFY2(result, qPrintable(result.reason()));
    QCOMPARE(readAll(path), content);
}

void TestLogFile::appendLogLine_refusesAnythingButAPlainFileInTheFolder_data()
{
    QTest::addColumn<Obstacle>("obstacle");
    QTest::newRow("link to a file outside the folder") << Obstacle::LinkToFileOutside;
    QTest::newRow("dangling link to outside the folder") << Obstacle::DanglingLinkOutside;
    QTest::newRow("link to a file in the folder") << Obstacle::LinkToFileInside;
    QTest::newRow("folder in the file's place") << Obstacle::Folder;
#ifdef Q_OS_UNIX
    QTest::newRow("FIFO in the file's place, no reader") << Obstacle::Fifo;
    QTest::newRow("FIFO in the file's place, with a reader") << Obstacle::FifoWithReader;
#endif
    QTest::newRow("name reaching the parent folder") << Obstacle::ParentInName;
    QTest::newRow("name reaching a subfolder") << Obstacle::SubfolderInName;
}

void TestLogFile::appendLogLine_refusesAnythingButAPlainFileInTheFolder()
{
    QFETCH(Obstacle, obstacle);
    QTemporaryDir root;
    const QString work = root.filePath(u"work"_s);
    const QString outside = root.filePath(u"outside.txt"_s);
    const QString inside = root.filePath(u"work/other.txt"_s);
    QVERIFY(QDir().mkpath(work + u"/sub"_s));
    const QByteArray untouched = "must stay\r\n";
    QString name = u"07-12-2026.txt"_s;
    const QString target = work + u'/' + name;

    switch (obstacle) {
    case Obstacle::LinkToFileOutside:
        QVERIFY(writeFile(outside, untouched));
        QVERIFY(QFile::link(outside, target));
        break;
    case Obstacle::DanglingLinkOutside:
        QVERIFY(QFile::link(outside, target));
        break;
    case Obstacle::LinkToFileInside:
        QVERIFY(writeFile(inside, untouched));
        QVERIFY(QFile::link(inside, target));
        break;
    case Obstacle::Folder:
        QVERIFY(QDir().mkdir(target));
        break;
    case Obstacle::Fifo:
    case Obstacle::FifoWithReader:
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0644), 0);
#endif
        break;
    case Obstacle::ParentInName:
        name = u"../outside.txt"_s;
        break;
    case Obstacle::SubfolderInName:
        name = u"sub/07-12-2026.txt"_s;
        break;
    }

#ifdef Q_OS_UNIX
    const int reader = obstacle == Obstacle::FifoWithReader
                           ? ::open(QFile::encodeName(target).constData(), O_RDONLY | O_NONBLOCK)
                           : -1;
#endif
    const FileResult result = AppendLogLine(work, name, u"07-12-2026,17:05:03,1,"_s);
#ifdef Q_OS_UNIX
    if (reader >= 0)
        ::close(reader);
#endif
    QVERIFY(!result);
    QVERIFY(!result.reason().isEmpty());
    QVERIFY2(result.reason().contains(name), qPrintable(result.reason()));

    // Nothing written anywhere: the outside file is as it was or still missing, and no
    // file appeared in the subfolder.
    if (obstacle == Obstacle::LinkToFileOutside)
        QCOMPARE(readAll(outside), untouched);
    else
        QVERIFY(!QFileInfo::exists(outside));
    if (obstacle == Obstacle::LinkToFileInside)
        QCOMPARE(readAll(inside), untouched);
    QCOMPARE(entries(work + u"/sub"_s), QStringList());
}

void TestLogFile::appendLogLine_readOnlyFolder_reportsFailure()
{
#ifdef Q_OS_UNIX
    KELVARO_RUN_UNPRIVILEGED(); // root writes into read-only folders
#else
    QSKIP("folder permissions do not stop writing on this system");
#endif
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const FileResult result = AppendLogLine(dir.path(), u"07-12-2026.txt"_s, u"a,"_s);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(u"07-12-2026.txt"_s), qPrintable(result.reason()));
    QCOMPARE(entries(dir.path()), QStringList());
}

void TestLogFile::appendAll_fullDevice_reportsNoSpace()
{
#ifdef Q_OS_UNIX
    // The append refuses anything but a regular file, so the full device is reached
    // through the write step itself, with a descriptor opened here.
    const int fd = ::open("/dev/full", O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        QSKIP("no /dev/full on this system");
    const logfile::AppendOutcome outcome = logfile::appendAll(fd, "07-12-2026,17:05:03,1\r\n");
    ::close(fd);
    QCOMPARE(outcome.error, ENOSPC);
    QVERIFY(!outcome.partialLeft);
#else
    QSKIP("POSIX only");
#endif
}

void TestLogFile::appendLogLine_limitReachedMidLine_leavesNoPartialLine()
{
#ifdef Q_OS_UNIX
    // A file-size limit makes a real regular file behave like a disk that fills up in
    // the middle of a line: the first bytes are written, the rest fails with EFBIG.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"07-12-2026.txt"_s);
    const QByteArray first = "07-12-2026,17:05:03,1\r\n";
    QVERIFY(writeFile(path, first));

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(first.size() + 10);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (::setrlimit(RLIMIT_FSIZE, &tight) != 0) {
        std::signal(SIGXFSZ, previousHandler);
        QSKIP("cannot lower the file-size limit");
    }
    const FileResult failed =
        AppendLogLine(dir.path(), u"07-12-2026.txt"_s, u"07-12-2026,17:05:05,2,"_s);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!failed);
    QVERIFY2(failed.reason().contains(u"07-12-2026.txt"_s), qPrintable(failed.reason()));
    QVERIFY2(!failed.reason().contains(u"part of the line"_s), qPrintable(failed.reason()));
    QCOMPARE(readAll(path), first);

    const FileResult next =
        AppendLogLine(dir.path(), u"07-12-2026.txt"_s, u"07-12-2026,17:05:07,3,"_s);
    QVERIFY2(next, qPrintable(next.reason()));
    QCOMPARE(readAll(path), first + "07-12-2026,17:05:07,3\r\n");
#else
    QSKIP("POSIX only");
#endif
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_log_file.moc"
