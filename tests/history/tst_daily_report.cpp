// The daily report: one row per day from the lines of its file, the day's column count
// chosen by most of its lines, values in the chosen unit, and the CSV's exact shape.

#include "history/daily_report.h"

#include <QTest>

using namespace kelvaro;

namespace {

const QString Actual = QStringLiteral("Actual Temperature (i16)");
const QString Relay = QStringLiteral("Relay Status (h08)");
const QString TimeOn = QStringLiteral("Actual Time On (u16)");
const QString Counter = QStringLiteral("Counter_2sec (l08)");

QByteArray reportOf(const QByteArray& bytes, const QStringList& names, bool fahrenheit = false)
{
    DaySummary day = summariseLogDay(std::string_view(bytes.constData(), size_t(bytes.size())),
                                     columnKinds(names));
    day.date = QDate(2026, 12, 7);
    return reportCsv({day}, names, ValueUnits{fahrenheit, 10000});
}

} // namespace

class TestDailyReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reportRow_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("fahrenheit");
        QTest::addColumn<QByteArray>("row");

        const QStringList three{Actual, Relay, TimeOn};
        QTest::newRow("negative temperatures read signed")
            << QByteArray("07-12-2026,00:00:02,2468,1,30\r\n07-12-2026,00:00:04,65300,0,31\r\n")
            << three << false << QByteArray("2026-12-07,2,0,-2.36,11.16,24.68,0.500,30,30.50,31");
        QTest::newRow("in Fahrenheit")
            << QByteArray("d,00:00:02,2468,1,30\r\nd,00:00:04,65300,0,31\r\n") << three << true
            << QByteArray("2026-12-07,2,0,27.75,52.09,76.42,0.500,30,30.50,31");
        QTest::newRow("relay share with three decimals")
            << QByteArray("d,00:00:01,0,1,0\nd,00:00:02,0,0,0\nd,00:00:03,0,0,0\n") << three
            << false << QByteArray("2026-12-07,3,0,0.00,0.00,0.00,0.333,0,0.00,0");
        QTest::newRow("line cut short and text in a number are skipped")
            << QByteArray(
                   "d,00:00:01,100,1,5\r\nd,00:00:02,abc,1,5\r\nd,00:00:03,300,0,7\r\nd,00:0")
            << three << false << QByteArray("2026-12-07,4,2,1.00,2.00,3.00,0.500,5,6.00,7");
        QTest::newRow("too few columns are skipped")
            << QByteArray("d,00:00:01,100,1,5\nd,00:00:02,200,1\nd,00:00:03,300,0,7\n") << three
            << false << QByteArray("2026-12-07,3,1,1.00,2.00,3.00,0.500,5,6.00,7");
        QTest::newRow("empty file")
            << QByteArray() << three << false << QByteArray("2026-12-07,0,0,,,,,,,");
        QTest::newRow("nothing usable")
            << QByteArray("garbage\r\n") << three << false << QByteArray("2026-12-07,1,1,,,,,,,");
        QTest::newRow("a day with fewer columns than the settings name")
            << QByteArray("d,00:00:01,100,1\nd,00:00:02,300,1\n") << three << false
            << QByteArray("2026-12-07,2,0,1.00,2.00,3.00,1.000,,,");
        QTest::newRow("mean near zero is never -0.00")
            << QByteArray("d,00:00:01,65535,0,0\nd,00:00:02,0,0,0\nd,00:00:03,0,0,0\n") << three
            << false << QByteArray("2026-12-07,3,0,-0.01,0.00,0.00,0.000,0,0.00,0");
        QTest::newRow("numbers keep their logged value")
            << QByteArray("d,00:00:01,255\nd,00:00:02,0\n") << QStringList{Counter} << false
            << QByteArray("2026-12-07,2,0,0,127.50,255");
    }
    void reportRow()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QFETCH(bool, fahrenheit);
        QFETCH(QByteArray, row);
        const QList<QByteArray> lines = reportOf(bytes, names, fahrenheit).split('\n');
        QCOMPARE(lines.size(), 3); // header, row, nothing after the last LF
        QCOMPARE(lines.at(1), row);
    }

    void header_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("relay has one column")
            << QByteArray() << QStringList{Actual, Relay}
            << QByteArray("date,lines,skipped,Actual Temperature (i16) min,Actual Temperature "
                          "(i16) mean,Actual Temperature (i16) max,Relay Status on");
        QTest::newRow("nothing logged")
            << QByteArray() << QStringList{} << QByteArray("date,lines,skipped");
        QTest::newRow("a day with more columns than the settings name")
            << QByteArray("d,00:00:01,1,2\nd,00:00:02,3,4\n") << QStringList{Counter}
            << QByteArray("date,lines,skipped,Counter_2sec (l08) min,Counter_2sec (l08) mean,"
                          "Counter_2sec (l08) max,column 2 min,column 2 mean,column 2 max");
    }
    void header()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QFETCH(QByteArray, header);
        QCOMPARE(reportOf(bytes, names).split('\n').first(), header);
    }

    void mostLinesChooseTheDaysColumns()
    {
        // Logging fields changed at noon: the four lines of two values win over the one
        // of three; that one is skipped, not mixed in.
        const QByteArray bytes("d,11:59:58,1,9,9\nd,12:00:00,10,20\nd,12:00:02,30,40\n"
                               "d,12:00:04,50,60\nd,12:00:06,70,80\n");
        const DaySummary day =
            summariseLogDay(std::string_view(bytes.constData(), size_t(bytes.size())),
                            columnKinds({Counter, Counter, Counter}));
        QCOMPARE(day.lines, 5);
        QCOMPARE(day.used, 4);
        QCOMPARE(day.skipped, 1);
        QCOMPARE(day.columns.size(), size_t(2));
        QCOMPARE(day.columns[0].min, 10);
        QCOMPARE(day.columns[1].max, 80);
    }

    void unreadableDayHasNoRow()
    {
        DaySummary read;
        read.date = QDate(2026, 1, 1);
        read.read = true;
        DaySummary unreadable;
        unreadable.date = QDate(2026, 1, 2);
        const QByteArray csv = reportCsv({read, unreadable}, {}, {});
        QCOMPARE(csv, QByteArray("date,lines,skipped\n2026-01-01,0,0\n"));
    }
};

QTEST_GUILESS_MAIN(TestDailyReport)
#include "tst_daily_report.moc"
