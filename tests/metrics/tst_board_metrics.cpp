#include "core/register_words.h"
#include "metrics/board_metrics.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace kelvaro;

namespace {

const QString Folder = QStringLiteral("/var/lib/kelvaro/ttyUSB0");

// The sample lines of `text` for the metric `name`.
QList<QByteArray> samplesOf(const QByteArray& text, const QByteArray& name)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(QByteArray(name + '{')))
            lines << line;
    return lines;
}

BoardMetrics typicalBoard()
{
    BoardMetrics m;
    m.words[reg::Status] = 0x0181; // relay on, counter 129
    m.words[reg::Actual] = 2345;
    m.words[reg::Average] = 2340;
    m.words[reg::LowRising] = 2200;
    m.words[reg::LowFalling] = 2100;
    m.words[reg::LowerSetpoint] = 1500;
    m.words[reg::TimeOn] = 30;
    m.words[reg::TimeOff] = 45;
    m.lineOpen = true;
    m.silentSeconds = 0;
    m.reopenCount = 2;
    m.lastLogWriteUnix = 1700000000;
    return m;
}

} // namespace

class TestBoardMetrics : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void registerSample_data();
    void registerSample();
    void lineSample_data();
    void lineSample();
    void unknownValue_isLeftOutWithItsHeader_data();
    void unknownValue_isLeftOutWithItsHeader();
    void labelValue_escaped_data();
    void labelValue_escaped();
    void folderLabel_escapedInEverySample();
    void everySample_hasItsHelpAndTypeFirst_andTheTextEndsWithALineFeed();
    void logging_failingAndIdleOnlyWhileOn_data();
    void logging_failingAndIdleOnlyWhileOn();
};

void TestBoardMetrics::initTestCase()
{
    // A comma locale, so that a number written through the locale would show.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestBoardMetrics::registerSample_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("calibration");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray f = "{folder=\"/var/lib/kelvaro/ttyUSB0\"";
    QTest::newRow("actual 23.45") << reg::Actual << 2345 << 10000
                                  << "kelvaro_actual_temperature_celsius" + f + "} 23.45";
    QTest::newRow("actual -6.00 from the unsigned word 64936")
        << reg::Actual << 64936 << 10000 << "kelvaro_actual_temperature_celsius" + f + "} -6.00";
    QTest::newRow("actual -0.01 from 65535")
        << reg::Actual << 65535 << 10000 << "kelvaro_actual_temperature_celsius" + f + "} -0.01";
    QTest::newRow("actual -327.68 from 32768")
        << reg::Actual << 32768 << 10000 << "kelvaro_actual_temperature_celsius" + f + "} -327.68";
    QTest::newRow("average 18.07")
        << reg::Average << 1807 << 10000 << "kelvaro_average_temperature_celsius" + f + "} 18.07";
    QTest::newRow("average -12.50 from 64286")
        << reg::Average << 64286 << 10000 << "kelvaro_average_temperature_celsius" + f + "} -12.50";
    QTest::newRow("low rising set-point 46.00")
        << reg::LowRising << 4600 << 10000
        << "kelvaro_setpoint_celsius" + f + ",setpoint=\"low_rising\"} 46.00";
    QTest::newRow("low falling set-point 21.30")
        << reg::LowFalling << 2130 << 10000
        << "kelvaro_setpoint_celsius" + f + ",setpoint=\"low_falling\"} 21.30";
    QTest::newRow("lower set-point -6.00")
        << reg::LowerSetpoint << 64936 << 10000
        << "kelvaro_setpoint_celsius" + f + ",setpoint=\"lower\"} -6.00";
    QTest::newRow("relay byte 1 is on")
        << reg::Status << 0x01C8 << 10000 << "kelvaro_relay_on" + f + "} 1";
    QTest::newRow("relay byte 0 is off, counter 255")
        << reg::Status << 0x00FF << 10000 << "kelvaro_relay_on" + f + "} 0";
    QTest::newRow("relay byte 2 is off, as the window shows it")
        << reg::Status << 0x0201 << 10000 << "kelvaro_relay_on" + f + "} 0";
    QTest::newRow("time on 30 ticks at nominal clock is 60 s")
        << reg::TimeOn << 30 << 10000 << "kelvaro_relay_on_time_seconds" + f + "} 60";
    QTest::newRow("time on 30 ticks at 9677 is 62 s")
        << reg::TimeOn << 30 << 9677 << "kelvaro_relay_on_time_seconds" + f + "} 62";
    QTest::newRow("time off 65535 ticks at nominal clock")
        << reg::TimeOff << 65535 << 10000 << "kelvaro_relay_off_time_seconds" + f + "} 131070";
    QTest::newRow("time off 1 tick at 8000 is 2.5 s, halves to even")
        << reg::TimeOff << 1 << 8000 << "kelvaro_relay_off_time_seconds" + f + "} 2";
}

void TestBoardMetrics::registerSample()
{
    QFETCH(int, word);
    QFETCH(int, value);
    QFETCH(int, calibration);
    QFETCH(QByteArray, expected);

    BoardMetrics m = typicalBoard();
    m.words[word] = value;
    m.timerCalValue = calibration;
    const QByteArray text = metricsExposition(m, Folder);
    const QByteArray name = expected.left(expected.indexOf('{'));
    const QByteArray labels =
        expected.mid(expected.indexOf('{'), expected.indexOf('}') - expected.indexOf('{'));
    QList<QByteArray> matching;
    for (const QByteArray& line : samplesOf(text, name))
        if (line.startsWith(QByteArray(name + labels + '}')))
            matching << line;
    QCOMPARE(matching, QList<QByteArray>{expected});
}

void TestBoardMetrics::lineSample_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<qint64>("silent");
    QTest::addColumn<quint64>("reopens");
    QTest::addColumn<qint64>("lastWrite");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("open") << true << qint64(0) << quint64(0) << qint64(1)
                          << QByteArray("kelvaro_line_open") << QByteArray("1");
    QTest::newRow("closed") << false << qint64(0) << quint64(0) << qint64(1)
                            << QByteArray("kelvaro_line_open") << QByteArray("0");
    QTest::newRow("silent 37 s") << true << qint64(37) << quint64(0) << qint64(1)
                                 << QByteArray("kelvaro_line_silent_seconds") << QByteArray("37");
    QTest::newRow("reopened 12 times")
        << true << qint64(0) << quint64(12) << qint64(1) << QByteArray("kelvaro_line_reopens_total")
        << QByteArray("12");
    QTest::newRow("reopen count past 32 bits")
        << true << qint64(0) << quint64(5000000000) << qint64(1)
        << QByteArray("kelvaro_line_reopens_total") << QByteArray("5000000000");
    QTest::newRow("last log write as Unix time, not in exponent form")
        << true << qint64(0) << quint64(0) << qint64(1767225600)
        << QByteArray("kelvaro_last_log_write_timestamp_seconds") << QByteArray("1767225600");
}

void TestBoardMetrics::lineSample()
{
    QFETCH(bool, open);
    QFETCH(qint64, silent);
    QFETCH(quint64, reopens);
    QFETCH(qint64, lastWrite);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);

    BoardMetrics m = typicalBoard();
    m.lineOpen = open;
    m.silentSeconds = silent;
    m.reopenCount = reopens;
    m.lastLogWriteUnix = lastWrite;
    QCOMPARE(samplesOf(metricsExposition(m, Folder), name),
             QList<QByteArray>{name + "{folder=\"" + Folder.toUtf8() + "\"} " + value});
}

void TestBoardMetrics::unknownValue_isLeftOutWithItsHeader_data()
{
    QTest::addColumn<bool>("logWritten");
    QTest::addColumn<int>("calibration");
    QTest::addColumn<QByteArrayList>("absent");
    QTest::addColumn<QByteArrayList>("present");

    const QByteArray lastWrite = "kelvaro_last_log_write_timestamp_seconds";
    const QByteArrayList times = {"kelvaro_relay_on_time_seconds",
                                  "kelvaro_relay_off_time_seconds"};
    QTest::newRow("no log line written yet")
        << false << 10000 << QByteArrayList{lastWrite} << times;
    QTest::newRow("calibration 0: running times unknown")
        << true << 0 << times << QByteArrayList{lastWrite};
    QTest::newRow("calibration negative") << true << -9677 << times << QByteArrayList{lastWrite};
    QTest::newRow("both unknown") << false << 0 << (times + QByteArrayList{lastWrite})
                                  << QByteArrayList{"kelvaro_line_open"};
}

void TestBoardMetrics::unknownValue_isLeftOutWithItsHeader()
{
    QFETCH(bool, logWritten);
    QFETCH(int, calibration);
    QFETCH(QByteArrayList, absent);
    QFETCH(QByteArrayList, present);

    BoardMetrics m = typicalBoard();
    if (!logWritten)
        m.lastLogWriteUnix.reset();
    m.timerCalValue = calibration;
    const QByteArray text = metricsExposition(m, Folder);
    for (const QByteArray& name : absent)
        QVERIFY2(!text.contains(name), name.constData());
    for (const QByteArray& name : present)
        QCOMPARE(samplesOf(text, name).size(), 1);
    QVERIFY(!text.toLower().contains("nan"));
}

void TestBoardMetrics::labelValue_escaped_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain path") << QStringLiteral("/var/lib/kelvaro/ttyUSB0")
                                << QByteArray("/var/lib/kelvaro/ttyUSB0");
    QTest::newRow("backslashes of a Windows path")
        << QStringLiteral("C:\\Boards\\A") << QByteArray("C:\\\\Boards\\\\A");
    QTest::newRow("double quote") << QStringLiteral("/b/\"east\"") << QByteArray("/b/\\\"east\\\"");
    QTest::newRow("line feed") << QStringLiteral("/b/one\ntwo") << QByteArray("/b/one\\ntwo");
    QTest::newRow("backslash before a quote stays two escapes")
        << QStringLiteral("\\\"") << QByteArray("\\\\\\\"");
    QTest::newRow("backslash n is not a line feed")
        << QStringLiteral("/b\\n") << QByteArray("/b\\\\n");
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral("/srv/K\u00FChlraum \u00B0C")
                                        << QByteArray("/srv/K\xC3\xBChlraum \xC2\xB0"
                                                      "C");
    QTest::newRow("carriage return and tab as they are")
        << QStringLiteral("a\r\tb") << QByteArray("a\r\tb");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestBoardMetrics::labelValue_escaped()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(exposedLabelValue(value), expected);
}

void TestBoardMetrics::folderLabel_escapedInEverySample()
{
    const QString folder = QStringLiteral("/srv/\"a\"\\b\nc");
    const QByteArray text = metricsExposition(typicalBoard(), folder);
    int samples = 0;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        ++samples;
        QVERIFY2(line.contains("{folder=\"/srv/\\\"a\\\"\\\\b\\nc\""), line.constData());
    }
    // Every line of the text is a comment or a whole sample: the line feed in the folder
    // did not split one.
    QCOMPARE(samples, 12);
}

void TestBoardMetrics::everySample_hasItsHelpAndTypeFirst_andTheTextEndsWithALineFeed()
{
    const QByteArray text = metricsExposition(typicalBoard(), Folder);
    QVERIFY(text.endsWith('\n'));
    static const QRegularExpression sample(
        QStringLiteral("^(kelvaro_[a-z_]+)\\{folder=\"[^\"]*\"(,[a-z_]+=\"[a-z_]+\")*\\} "
                       "(-?[0-9]+(\\.[0-9]+)?)$"));
    static const QRegularExpression help(QStringLiteral("^# HELP (kelvaro_[a-z_]+) \\S.*$"));
    static const QRegularExpression type(
        QStringLiteral("^# TYPE (kelvaro_[a-z_]+) (gauge|counter)$"));

    QSet<QString> declared;
    QString helped;
    QString current;
    for (const QByteArray& raw : text.chopped(1).split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (const auto m = help.match(line); m.hasMatch()) {
            QVERIFY2(!declared.contains(m.captured(1)), qPrintable(line)); // one family, once
            helped = m.captured(1);
        } else if (const auto t = type.match(line); t.hasMatch()) {
            QCOMPARE(t.captured(1), helped);
            QCOMPARE(t.captured(2) == QLatin1String("counter"),
                     t.captured(1).endsWith(QLatin1String("_total")));
            current = t.captured(1);
            declared.insert(current);
        } else {
            const auto s = sample.match(line);
            QVERIFY2(s.hasMatch(), qPrintable(line));
            QCOMPARE(s.captured(1), current); // a family's samples follow its TYPE line
        }
    }
    QCOMPARE(declared.size(), 10);
}

void TestBoardMetrics::logging_failingAndIdleOnlyWhileOn_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("failing");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<QByteArray>("shown"); // the two samples' values, or none
    QTest::newRow("off") << false << true << true << QByteArray();
    QTest::newRow("on, writing") << true << false << false << QByteArray("0 0");
    QTest::newRow("on, failing") << true << true << false << QByteArray("1 0");
    QTest::newRow("on, nothing of use") << true << false << true << QByteArray("0 1");
}

void TestBoardMetrics::logging_failingAndIdleOnlyWhileOn()
{
    QFETCH(bool, active);
    QFETCH(bool, failing);
    QFETCH(bool, idle);
    QFETCH(QByteArray, shown);
    BoardMetrics m = typicalBoard();
    m.logActive = active;
    m.logFailing = failing;
    m.logIdle = idle;
    const QByteArray text = metricsExposition(m, Folder);
    QByteArrayList values;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("kelvaro_log_failing{") || line.startsWith("kelvaro_log_idle{"))
            values.append(line.mid(line.lastIndexOf(' ') + 1));
    }
    QCOMPARE(values.join(' '), shown);
}

QTEST_GUILESS_MAIN(TestBoardMetrics)
#include "tst_board_metrics.moc"
