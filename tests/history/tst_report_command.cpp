// `kelvaro --report` end to end: the real program in a folder of log files the test
// writes, with no display to be had, and the command line it accepts.

#include "core/field_names.h"
#include "history/history_command.h"
#include "store/settings_file.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestReportCommand : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reportOfAFolder_data()
    {
        QTest::addColumn<QString>("to");
        QTest::newRow("to a day after the last file") << QStringLiteral("2026-12-31");
        QTest::newRow("to the day of the last file") << QStringLiteral("2026-12-07");
    }
    void reportOfAFolder()
    {
        QFETCH(QString, to);
        QTemporaryDir dir;
        Settings_Record settings;
        settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
        settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
        settings.Log_Fields[1] = LooseValue::text(QStringLiteral("Relay Status (h08)"));
        settings.Log_Fields[2] = LooseValue::text(QStringLiteral("None"));
        settings.Use_Fahrenheit = true;
        QVERIFY(SaveSettings(settings, dir.path()));
        writeFile(dir.filePath(QStringLiteral("06-12-2026.txt")), "06-12-2026,23:59:58,2000,1\r\n");
        writeFile(dir.filePath(QStringLiteral("07-12-2026.txt")),
                  "07-12-2026,00:00:00,2468,1\r\n07-12-2026,00:00:02,65300,0\r\n"
                  "07-12-2026,00:00:04,12,oops\r\n07-12-2026,00:00:06,1");
        writeFile(dir.filePath(QStringLiteral("notes.txt")), "not a log\r\n");

        QProcess program;
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // A platform that cannot start here: the report must not need one.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(KELVARO_PROGRAM_PATH),
                      {QStringLiteral("--report"), QStringLiteral("--from"),
                       QStringLiteral("2026-12-07"), QStringLiteral("--to"), to});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(program.readAllStandardOutput(),
                 QByteArray("date,lines,skipped,Actual Temperature (i16) min,Actual Temperature "
                            "(i16) mean,Actual Temperature (i16) max,Relay Status on\n"
                            "2026-12-07,4,2,27.75,52.09,76.42,0.500\n"));
        QCOMPARE(program.readAllStandardError(), QByteArray());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("report alone") << QStringList{QStringLiteral("--report")} << true;
        QTest::newRow("plot with size")
            << QStringList{QStringLiteral("--plot"), QStringLiteral("a.png"),
                           QStringLiteral("--size"), QStringLiteral("800x400")}
            << true;
        QTest::newRow("plot without a file")
            << QStringList{QStringLiteral("--plot"), QStringLiteral("--from"),
                           QStringLiteral("2026-01-01")}
            << false;
        QTest::newRow("date not ISO")
            << QStringList{QStringLiteral("--report"), QStringLiteral("--from"),
                           QStringLiteral("07-12-2026")}
            << false;
        QTest::newRow("from after to")
            << QStringList{QStringLiteral("--report"), QStringLiteral("--from"),
                           QStringLiteral("2026-02-01"), QStringLiteral("--to"),
                           QStringLiteral("2026-01-01")}
            << false;
        QTest::newRow("size too small")
            << QStringList{QStringLiteral("--plot"), QStringLiteral("a.png"),
                           QStringLiteral("--size"), QStringLiteral("10x10")}
            << false;
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--report"), QStringLiteral("--verbose")} << false;
        QTest::newRow("both commands")
            << QStringList{QStringLiteral("--report"), QStringLiteral("--plot"),
                           QStringLiteral("a.png")}
            << false;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, accepted);
        QString error;
        QCOMPARE(parseHistoryCommand(arguments, &error).has_value(), accepted);
        QCOMPARE(error.isEmpty(), accepted);
    }

    void fileNamesBackToDates_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDate>("date");
        QTest::newRow("day first") << QStringLiteral("DD-MM-YYYY")
                                   << QStringLiteral("07-12-2026.txt") << QDate(2026, 12, 7);
        QTest::newRow("month first") << QStringLiteral("MM-DD-YYYY")
                                     << QStringLiteral("12-07-2026.txt") << QDate(2026, 12, 7);
        QTest::newRow("no leading zeros")
            << QStringLiteral("log_D.M.YYYY") << QStringLiteral("log_7.12.2026.txt")
            << QDate(2026, 12, 7);
        QTest::newRow("not a date")
            << QStringLiteral("DD-MM-YYYY") << QStringLiteral("31-02-2026.txt") << QDate();
        QTest::newRow("other file")
            << QStringLiteral("DD-MM-YYYY") << QStringLiteral("Settings.txt") << QDate();
        QTest::newRow("pattern without a day")
            << QStringLiteral("MM-YYYY") << QStringLiteral("12-2026.txt") << QDate();
    }
    void fileNamesBackToDates()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(QDate, date);
        QCOMPARE(logDateFromFileName(pattern, name).value_or(QDate()), date);
    }
};

QTEST_GUILESS_MAIN(TestReportCommand)
#include "tst_report_command.moc"
