// The shipped pieces as an operator runs them: the demo's settings from scripts/run, the
// real kelvaro executable and the real simulated board in a folder of their own.

#include "app/recorder_settings.h"
#include "board_sim_process.h"
#include "store/settings_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::e2e;

namespace {

// Runs "scripts/run --write-settings <folder>"; returns its output, empty on success.
QString writeDemoSettings(const QString& folder)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"),
                 {QStringLiteral(KELVARO_RUN_SCRIPT), QStringLiteral("--write-settings"), folder});
    if (!script.waitForFinished(10000) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0)
        return QStringLiteral("scripts/run failed: ") + QString::fromLocal8Bit(script.readAll());
    return {};
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestE2eProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void demoSettings_areWhatTheProgramWouldWrite();
    void shippedProgram_answersPollsAndLogsToTheDailyFile();
};

void TestE2eProgram::demoSettings_areWhatTheProgramWouldWrite()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString error = writeDemoSettings(dir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray bytes = readFile(dir.filePath(SettingsFileName));

    // The demo's settings are the recorder's starting settings: one starting point.
    const Settings_Record expected = recorderStartSettings();
    // Byte for byte the file the program writes for these settings: 42 lines, CR LF.
    QCOMPARE(bytes, settingsFileBytes(expected).value());
    Settings_Record loaded;
    QVERIFY(parseSettings(loaded, bytes));
    QVERIFY(loaded == expected);

    // The operator's own settings are never replaced.
    QFile file(dir.filePath(SettingsFileName));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("mine\r\n");
    file.close();
    QVERIFY(writeDemoSettings(dir.path()).isEmpty());
    QCOMPARE(readFile(dir.filePath(SettingsFileName)), QByteArray("mine\r\n"));
}

void TestE2eProgram::shippedProgram_answersPollsAndLogsToTheDailyFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString error = writeDemoSettings(dir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray settingsBefore = readFile(dir.filePath(SettingsFileName));

    // The demo's pace; the model runs five times faster so every 2 s refresh sees a new
    // counter and writes a line.
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));

    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KELVARO_PROGRAM_PATH), {});
    QVERIFY2(program.waitForStarted(5000), qPrintable(program.errorString()));

    // The splash shows for 10 s; then the main window opens the port and logs.
    const QRegularExpression line(
        QStringLiteral("^(\\d\\d-\\d\\d-\\d{4}),\\d\\d:\\d\\d:\\d\\d,(\\d+),([01])$"));
    QStringList lines;
    QString logName;
    const bool logged = QTest::qWaitFor(
        [&] {
            const QStringList names =
                QDir(dir.path()).entryList({QStringLiteral("\?\?-\?\?-\?\?\?\?.txt")}, QDir::Files);
            if (names.isEmpty())
                return false;
            logName = names.constLast();
            lines = QString::fromLatin1(readFile(dir.filePath(logName)))
                        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            return lines.size() >= 2;
        },
        40000);
    QVERIFY2(program.state() == QProcess::Running, program.readAll().constData());
    QVERIFY2(logged, qPrintable(QStringLiteral("log %1: %2").arg(logName, lines.join(u'|'))));
    for (const QString& text : std::as_const(lines)) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QCOMPARE(match.captured(1) + QStringLiteral(".txt"), logName);
        const int hundredths = match.captured(2).toInt(); // the room starts at 19.50 °C
        QVERIFY2(hundredths > 1000 && hundredths < 4000, qPrintable(text));
    }

    const auto stats = sim.stats();
    QVERIFY(stats.value("answers") >= 2);
    QVERIFY(stats.value("blocks") >= 2);

    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    // Ending on SIGTERM saves nothing the operator did not change.
    QCOMPARE(readFile(dir.filePath(SettingsFileName)), settingsBefore);
}

QTEST_GUILESS_MAIN(TestE2eProgram)
#include "tst_e2e_program.moc"
