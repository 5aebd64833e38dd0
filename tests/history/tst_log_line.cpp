// The log-line reader: which lines are used, what they hold, and how a file's bytes are
// cut into lines (CR LF or LF, a last line cut short, an empty file).

#include "history/log_line.h"

#include <QTest>

using namespace kelvaro;

namespace {

QList<qint32> valuesOf(const LogLine& line)
{
    QList<qint32> values;
    for (int i = 0; i < line.count; ++i)
        values.append(line.values[size_t(i)]);
    return values;
}

} // namespace

class TestLogLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parseLogLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<int>("second");
        QTest::addColumn<QList<qint32>>("values");

        QTest::newRow("three fields") << QByteArray("07-12-2026,17:05:03,23,1,2456") << true
                                      << 17 * 3600 + 5 * 60 + 3 << QList<qint32>{23, 1, 2456};
        QTest::newRow("no field logged")
            << QByteArray("07-12-2026,17:05:03") << true << 61503 << QList<qint32>{};
        QTest::newRow("negative temperature word")
            << QByteArray("07-12-2026,00:00:00,65300") << true << 0 << QList<qint32>{65300};
        QTest::newRow("last second of the day")
            << QByteArray("x,23:59:59,0") << true << 86399 << QList<qint32>{0};
        QTest::newRow("hand-written minus")
            << QByteArray("d,01:00:00,-5") << true << 3600 << QList<qint32>{-5};
        QTest::newRow("only a date") << QByteArray("07-12-2026") << false << 0 << QList<qint32>{};
        QTest::newRow("empty line") << QByteArray("") << false << 0 << QList<qint32>{};
        QTest::newRow("empty date") << QByteArray(",17:05:03,1") << false << 0 << QList<qint32>{};
        QTest::newRow("time cut short")
            << QByteArray("07-12-2026,17:05") << false << 0 << QList<qint32>{};
        QTest::newRow("value cut to a comma")
            << QByteArray("07-12-2026,17:05:03,23,") << false << 0 << QList<qint32>{};
        QTest::newRow("text where a number belongs")
            << QByteArray("07-12-2026,17:05:03,23,on,5") << false << 0 << QList<qint32>{};
        QTest::newRow("number followed by text")
            << QByteArray("07-12-2026,17:05:03,23x") << false << 0 << QList<qint32>{};
        QTest::newRow("space before a value")
            << QByteArray("07-12-2026,17:05:03, 23") << false << 0 << QList<qint32>{};
        QTest::newRow("plus sign")
            << QByteArray("07-12-2026,17:05:03,+23") << false << 0 << QList<qint32>{};
        QTest::newRow("hour 24") << QByteArray("07-12-2026,24:00:00,1") << false << 0
                                 << QList<qint32>{};
        QTest::newRow("minute 60")
            << QByteArray("07-12-2026,12:60:00,1") << false << 0 << QList<qint32>{};
        QTest::newRow("time without colons")
            << QByteArray("07-12-2026,12-30-00,1") << false << 0 << QList<qint32>{};
        QTest::newRow("time followed by text")
            << QByteArray("07-12-2026,12:30:00x") << false << 0 << QList<qint32>{};
        QTest::newRow("value beyond 32 bits")
            << QByteArray("d,12:30:00,4294967296") << false << 0 << QList<qint32>{};
        QTest::newRow("two commas")
            << QByteArray("d,12:30:00,1,,2") << false << 0 << QList<qint32>{};
        QByteArray wide("d,12:30:00");
        for (int i = 0; i < MaxLogColumns + 1; ++i)
            wide += ",1";
        QTest::newRow("more columns than any settings") << wide << false << 0 << QList<qint32>{};
    }
    void parseLogLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, usable);
        QFETCH(int, second);
        QFETCH(QList<qint32>, values);
        LogLine line;
        QCOMPARE(
            kelvaro::parseLogLine(std::string_view(text.constData(), size_t(text.size())), line),
            usable);
        if (usable) {
            QCOMPARE(line.secondOfDay, second);
            QCOMPARE(valuesOf(line), values);
        }
    }

    void scanLogBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<qint64>("rejected");
        QTest::addColumn<QList<int>>("seconds");

        QTest::newRow("CR LF endings")
            << QByteArray("d,00:00:01,1\r\nd,00:00:02,2\r\n") << 2LL << 0LL << QList<int>{1, 2};
        QTest::newRow("LF endings")
            << QByteArray("d,00:00:01,1\nd,00:00:02,2\n") << 2LL << 0LL << QList<int>{1, 2};
        QTest::newRow("empty file") << QByteArray() << 0LL << 0LL << QList<int>{};
        QTest::newRow("last line cut short by a power failure")
            << QByteArray("d,00:00:01,1\r\nd,00:00:02,2") << 2LL << 1LL << QList<int>{1};
        QTest::newRow("last line cut inside its CR LF")
            << QByteArray("d,00:00:01,1\r\nd,00:00:02,2\r") << 2LL << 1LL << QList<int>{1};
        QTest::newRow("blank line in the middle")
            << QByteArray("d,00:00:01,1\r\n\r\nd,00:00:03,3\r\n") << 3LL << 1LL << QList<int>{1, 3};
        QTest::newRow("zero byte in a line")
            << QByteArray("d,00:00:01,1\r\nd,00:00:02,\0\r\n", 28) << 2LL << 1LL << QList<int>{1};
        QTest::newRow("lone CR is not a line end")
            << QByteArray("d,00:00:01,1\rd,00:00:02,2\n") << 1LL << 1LL << QList<int>{};
    }
    void scanLogBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, lines);
        QFETCH(qint64, rejected);
        QFETCH(QList<int>, seconds);
        QList<int> seen;
        const LogScanCount count =
            kelvaro::scanLogBytes(std::string_view(bytes.constData(), size_t(bytes.size())),
                                  [&](const LogLine& line) { seen.append(line.secondOfDay); });
        QCOMPARE(count.lines, lines);
        QCOMPARE(count.rejected, rejected);
        QCOMPARE(seen, seconds);
    }
};

QTEST_GUILESS_MAIN(TestLogLine)
#include "tst_log_line.moc"
