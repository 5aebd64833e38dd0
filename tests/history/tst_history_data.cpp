// Recorded days for the chart: times in local time also on the days the clock changes,
// series named from the settings with extra columns as "column N", and missing columns.

#include "history/history_data.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <ctime>

using namespace kelvaro;

namespace {

HistoryData::Day dayOf(const QDate& date, const QByteArray& bytes, const QStringList& names)
{
    return HistoryData::readDay(date, std::string_view(bytes.constData(), size_t(bytes.size())),
                                names);
}

const QString Actual = QStringLiteral("Actual Temperature (i16)");
const QString Relay = QStringLiteral("Relay Status (h08)");

void useZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    tzset();
}

// A day logged every `step` seconds as the recorder writes it, in file order: the wall clock
// runs from midnight to midnight, repeating the hour the clock goes back; the value rises
// by one per line.
QByteArray steadilyRisingDay(const QDate& date, int step = 2)
{
    QByteArray bytes;
    const QString stamp = date.toString(QStringLiteral("dd-MM-yyyy"));
    const qint64 end = QDateTime(date.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    int value = 0;
    for (qint64 t = QDateTime(date, QTime(0, 0)).toSecsSinceEpoch(); t < end; t += step) {
        bytes += (stamp + QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral(",HH:mm:ss,")))
                     .toLatin1() +
                 QByteArray::number(value++) + "\r\n";
    }
    return bytes;
}

} // namespace

class TestHistoryData : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A zone with summer time, whatever the machine's own.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void localTimes_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("stepSeconds");
        QTest::newRow("ordinary day")
            << QDate(2026, 1, 10) << QByteArray("d,01:59:59,1\r\nd,03:00:00,2\r\n") << 3601LL;
        QTest::newRow("clock moves forward at 02:00")
            << QDate(2026, 3, 29) << QByteArray("d,01:59:59,1\r\nd,03:00:00,2\r\n") << 1LL;
        QTest::newRow("clock moves back at 03:00")
            << QDate(2026, 10, 25) << QByteArray("d,01:59:59,1\r\nd,03:00:00,2\r\n") << 7201LL;
    }
    void localTimes()
    {
        QFETCH(QDate, date);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, stepSeconds);
        const HistoryData::Day day = dayOf(date, bytes, {}); // a plain number
        QCOMPARE(day.seconds.size(), size_t(2));
        QCOMPARE(qint64(day.seconds[1]) - day.seconds[0], stepSeconds);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(day.seconds[0]).time(), QTime(1, 59, 59));
    }

    void clockChanges_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("step");
        QTest::newRow("summer time ends: 25 hours")
            << QByteArray("Europe/Berlin") << QDate(2026, 10, 25) << 25 << 2;
        QTest::newRow("summer time begins: 23 hours")
            << QByteArray("Europe/Berlin") << QDate(2026, 3, 29) << 23 << 2;
        QTest::newRow("no summer time in UTC")
            << QByteArray("UTC") << QDate(2026, 10, 25) << 24 << 2;
        QTest::newRow("southern summer time ends")
            << QByteArray("Australia/Sydney") << QDate(2026, 4, 5) << 25 << 2;
        // The gap limit follows the day's usual spacing: a slower log is still one line.
        QTest::newRow("an ordinary day logged every 15 s")
            << QByteArray("Europe/Berlin") << QDate(2026, 6, 10) << 24 << 15;
    }
    void clockChanges()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(int, hours);
        QFETCH(int, step);
        useZone(zone);
        const QByteArray bytes = steadilyRisingDay(date, step);
        const HistoryData::Day day = dayOf(date, bytes, {}); // a plain number
        useZone("Europe/Berlin");
        // Every line a step after the one before, in file order: no hour over another, no
        // gap, and the day as long as the clock made it.
        QCOMPARE(qint64(day.seconds.size()), qint64(hours) * 3600 / step);
        QCOMPARE(day.end - day.start, qint64(hours) * 3600);
        QCOMPARE(qint64(day.seconds.front()), day.start);
        for (size_t i = 1; i < day.seconds.size(); ++i) {
            QCOMPARE(day.seconds[i] - day.seconds[i - 1], step);
            QCOMPARE(day.values[i], day.values[i - 1] + 1);
        }
        // Drawn from the lines or from the summary, one unbroken rising line.
        std::vector<HistoryData::Day> both{day, day};
        both[1].held = false;
        both[1].seconds.clear();
        both[1].values.clear();
        for (HistoryData::Day& one : both) {
            const HistoryData data({one}, {});
            const std::vector<ChartColumn> columns =
                data.columns(0, day.start * 1000, day.end * 1000, 200);
            QVERIFY(columns.size() >= 200);
            for (size_t i = 1; i < columns.size(); ++i) {
                QVERIFY2(columns[i].joined, qPrintable(QString::number(i)));
                QVERIFY(columns[i].min > columns[i - 1].max);
            }
        }
    }

    void linesOutOfOrderAreSorted()
    {
        const HistoryData::Day day =
            dayOf(QDate(2026, 1, 10), "d,10:00:04,3\nd,10:00:00,1\nd,10:00:02,2\n", {Actual});
        QCOMPARE(day.values, (std::vector<qint32>{1, 2, 3}));
    }

    void changedColumnsBetweenDays()
    {
        std::vector<HistoryData::Day> days;
        days.push_back(
            dayOf(QDate(2026, 1, 10), "d,10:00:00,2468,1\nd,10:00:02,65300,0\n", {Actual, Relay}));
        days.push_back(dayOf(QDate(2026, 1, 11), "d,10:00:00,100,1,7\n", {Actual, Relay}));
        const HistoryData data(std::move(days), {Actual, Relay});
        QCOMPARE(data.seriesCount(), 3);
        QCOMPARE(data.series(0).name, Actual);
        QCOMPARE(data.series(0).kind, FieldKind::Temperature);
        QCOMPARE(data.series(1).kind, FieldKind::Relay);
        QCOMPARE(data.series(2).name, QStringLiteral("column 3"));
        QCOMPARE(data.endIndex(), 3);
        QCOMPARE(data.valueAt(0, 1), -236);
        QCOMPARE(data.valueAt(2, 1), MissingValue);
        QCOMPARE(data.valueAt(2, 2), 7);
    }

    void exportOfTheVisibleRange()
    {
        std::vector<HistoryData::Day> days;
        days.push_back(dayOf(QDate(2026, 1, 10),
                             "d,10:00:00,2468,1,30\nd,10:00:02,65300,0,31\nd,10:00:04,1,0,0\n",
                             {Actual, Relay, QStringLiteral("Actual Time On (u16)")}));
        const HistoryData data(std::move(days),
                               {Actual, Relay, QStringLiteral("Actual Time On (u16)")});
        const qint64 t0 = QDateTime(QDate(2026, 1, 10), QTime(10, 0, 0)).toMSecsSinceEpoch();
        // The last line lies outside the range: not exported.
        QCOMPARE(chartCsv(data, t0, t0 + 2000, ValueUnits{true, 9677}),
                 QByteArray("time,Actual Temperature (i16) [\xC2\xB0"
                            "F],Relay Status (h08) [on=1],"
                            "Actual Time On (u16) [m:ss]\r\n"
                            "2026-01-10 10:00:00,76.42,1,1:02\r\n"
                            "2026-01-10 10:00:02,27.75,0,1:04\r\n"));
    }

    void timesShownTwiceCarryTheirOffset_data()
    {
        QTest::addColumn<qint64>("utcSeconds");
        QTest::addColumn<QString>("text");
        // 2026-10-25: the clock goes back from 03:00 CEST to 02:00 CET (01:00 UTC).
        const qint64 back =
            QDateTime(QDate(2026, 10, 25), QTime(1, 0), QTimeZone::utc()).toSecsSinceEpoch();
        QTest::newRow("02:30 before the step back")
            << back - 1800 << QStringLiteral("2026-10-25 02:30:00 +02:00");
        QTest::newRow("02:30 after the step back")
            << back + 1800 << QStringLiteral("2026-10-25 02:30:00 +01:00");
        QTest::newRow("03:30 that day, shown once")
            << back + 5400 << QStringLiteral("2026-10-25 03:30:00");
        QTest::newRow("03:30 the day summer time begins")
            << QDateTime(QDate(2026, 3, 29), QTime(1, 30), QTimeZone::utc()).toSecsSinceEpoch()
            << QStringLiteral("2026-03-29 03:30:00");
    }
    void timesShownTwiceCarryTheirOffset()
    {
        QFETCH(qint64, utcSeconds);
        QFETCH(QString, text);
        QCOMPARE(localTimeText(utcSeconds * 1000), text);
    }

    void longRangeExportsEveryLine()
    {
        // Eight days are more than are held: the export reads the lines again, and the
        // repeated hour of the day summer time ends is told apart by its offset.
        QTemporaryDir dir;
        std::vector<LogDayFile> files;
        for (int d = 20; d <= 27; ++d) {
            const QDate date(2026, 10, d);
            files.push_back({date, dir.filePath(date.toString(QStringLiteral("dd-MM-yyyy.txt")))});
            QFile file(files.back().path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(steadilyRisingDay(date, 600));
        }
        const auto data = HistoryData::load(files, {}, 2);
        QCOMPARE(data->endIndex(), 0);
        QCOMPARE(data->totalLines(), 8 * 144 + 6);
        // From 02:00 CEST, two hours.
        const qint64 t0 =
            QDateTime(QDate(2026, 10, 25), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        const QList<QByteArray> rows =
            historyCsv(*data, t0, t0 + 2 * 3600 * 1000 - 1, ValueUnits{false, 10000}).split('\n');
        QCOMPARE(rows.size(), 1 + 12 + 1);
        QCOMPARE(rows.at(1), QByteArray("2026-10-25 02:00:00 +02:00,12\r"));
        QCOMPARE(rows.at(7), QByteArray("2026-10-25 02:00:00 +01:00,18\r"));
    }

    void loadNamesWhatItCannotRead()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("10-01-2026.txt"));
        QFile file(good);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("10-01-2026,10:00:00,2468\r\n");
        file.close();
        QStringList errors;
        const auto data =
            HistoryData::load({{QDate(2026, 1, 10), good},
                               {QDate(2026, 1, 11), dir.filePath(QStringLiteral("none.txt"))}},
                              {Actual}, 2, &errors);
        QCOMPARE(data->days().size(), size_t(1));
        QCOMPARE(data->totalLines(), 1);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(QStringLiteral("none.txt")));
    }
};

QTEST_GUILESS_MAIN(TestHistoryData)
#include "tst_history_data.moc"
