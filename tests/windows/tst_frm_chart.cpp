// The chart window: the live trend repaints at most once per block and not while hidden,
// recorded days are read in the background and shown with their counts, the unit switch
// redraws, an older recorder is named in the status line, and the main window's Logging
// menu ends with "Chart".

#include "core/register_words.h"
#include "link/board_session.h"
#include "service/service_client.h"
#include "windows/chart_widget.h"
#include "windows/frm_chart.h"
#include "windows/frm_main.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;

namespace {

std::array<qint32, RegisterCount> block(qint32 actual, bool relay)
{
    std::array<qint32, RegisterCount> words{};
    words[reg::Actual] = actual;
    words[reg::Average] = actual;
    words[reg::Status] = relay ? 0x0100 : 0;
    words[reg::LowRising] = 2200;
    words[reg::LowFalling] = 2000;
    words[reg::LowerSetpoint] = 1800;
    return words;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Counts the distinct colours along a row of the chart image's temperature lane.
bool hasInk(const QImage& image, const QColor& color)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == color)
                return true;
        }
    }
    return false;
}

} // namespace

class TestFrmChart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void liveRepaints_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("mostPaints");
        QTest::newRow("shown and following: one paint per block at most") << true << false << 5;
        QTest::newRow("paused: no paint") << true << true << 0;
        QTest::newRow("hidden: no paint") << false << false << 0;
    }
    void liveRepaints()
    {
        QFETCH(bool, shown);
        QFETCH(bool, paused);
        QFETCH(int, mostPaints);
        Kelv_Main state;
        TrendBuffer trend;
        QTemporaryDir dir;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        if (shown) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        if (paused)
            window.chart()->setFollowing(false);
        QCoreApplication::processEvents();
        const int before = window.chart()->paintCount();
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < 5; ++i) {
            trend.append(now.addSecs(2 * (i - 5)), block(2000 + 10 * i, i % 2));
            window.onTrendAppended();
            QCoreApplication::processEvents();
        }
        const int paints = window.chart()->paintCount() - before;
        QVERIFY2(paints <= mostPaints, qPrintable(QString::number(paints)));
        if (mostPaints > 0)
            QVERIFY(paints >= 1);
    }

    void historyShowsTheDaysRead_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("status");
        QTest::newRow("a broken line is skipped")
            << QByteArray("07-12-2026,10:00:00,2468,1\r\n07-12-2026,10:00:02,65300,0\r\nbroken\r\n")
            << QDate(2026, 12, 8) << QStringLiteral("1 days, 3 lines, 1 skipped");
        QTest::newRow("a range ending on the day of the file")
            << QByteArray("07-12-2026,10:00:00,2468,1\r\n07-12-2026,10:00:02,65300,0\r\n")
            << QDate(2026, 12, 7) << QStringLiteral("1 days, 2 lines, 0 skipped");
        QTest::newRow("lines of another column count are skipped")
            << QByteArray("07-12-2026,10:00:00,2468,1\r\n07-12-2026,10:00:02,65300,0\r\n"
                          "07-12-2026,10:00:04,2468\r\n07-12-2026,10:00:06,2468,1,7\r\n")
            << QDate(2026, 12, 8) << QStringLiteral("1 days, 4 lines, 2 skipped");
    }
    void historyShowsTheDaysRead()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QDate, to);
        QFETCH(QString, status);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("07-12-2026.txt")), lines);
        Kelv_Main state;
        Init_Field_Names(state.Field_Names);
        state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
        state.settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
        state.settings.Log_Fields[1] = LooseValue::text(QStringLiteral("Relay Status (h08)"));
        TrendBuffer trend;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        QSignalSpy shown(&window, &Frm_Chart::historyShown);
        window.showDays(QDate(2026, 12, 7), to);
        QVERIFY(shown.wait(10000));
        QCOMPARE(window.mode(), Frm_Chart::Mode::History);
        QVERIFY(window.history());
        QCOMPARE(window.history()->seriesCount(), 2);
        QCOMPARE(window.statusText(), status);
        const ChartView view = window.chart()->view();
        QCOMPARE(view.t0, QDateTime(QDate(2026, 12, 7), QTime(0, 0)).toMSecsSinceEpoch());
        QCOMPARE(view.t1, QDateTime(to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch());
        // The actual temperature is drawn in its colour.
        QVERIFY(hasInk(window.chart()->image(), ChartPainter::seriesColor(0)));
    }

    void longRangeReadsTheLinesOfACloseView()
    {
        QTemporaryDir dir;
        for (int d = 1; d <= 20; ++d) {
            const QByteArray stamp =
                QDate(2026, 11, d).toString(QStringLiteral("dd-MM-yyyy")).toLatin1();
            writeFile(dir.filePath(QString::fromLatin1(stamp + ".txt")),
                      stamp + ",10:00:00,2468\r\n" + stamp + ",10:00:02,2470\r\n");
        }
        Kelv_Main state;
        Init_Field_Names(state.Field_Names);
        state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
        state.settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
        TrendBuffer trend;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        QSignalSpy shown(&window, &Frm_Chart::historyShown);
        window.showDays(QDate(2026, 11, 1), QDate(2026, 11, 20));
        QVERIFY(shown.wait(10000));
        // Twenty days are held as their summary, with their counts.
        QCOMPARE(window.statusText(), QStringLiteral("20 days, 40 lines, 0 skipped"));
        QCOMPARE(window.history()->endIndex(), 0);
        QVERIFY(hasInk(window.chart()->image(), ChartPainter::seriesColor(0)));
        // The readout of a summary: the last value of the five minutes at the pointer.
        const ChartPainter summary(*window.history(), ValueUnits{false, 10000});
        QCOMPARE(
            summary.readout(QDateTime(QDate(2026, 11, 5), QTime(10, 1)).toMSecsSinceEpoch()).at(1),
            QStringLiteral("Actual Temperature (i16): 24.70 \u00B0C"));
        // A day's view gets that day's lines, read in the background.
        const qint64 t0 = QDateTime(QDate(2026, 11, 5), QTime(0, 0)).toMSecsSinceEpoch();
        window.chart()->setTimeRange(t0, t0 + 24 * 3600 * 1000);
        QTRY_COMPARE(window.history()->endIndex(), 2);
        QCOMPARE(window.history()->timeAt(0), t0 + 10 * 3600 * 1000);
    }

    // Attached to a recorder older than the history requests: the status line says so
    // instead of showing an empty chart, and the window's own folder is not read instead.
    void olderRecorder_saidInTheStatusLine()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("07-12-2026.txt")), "07-12-2026,00:00:00,2468,1\r\n");
        QLocalServer old;
        QVERIFY(old.listen(dir.filePath(QStringLiteral("old.sock"))));
        connect(&old, &QLocalServer::newConnection, &old, [&] {
            old.nextPendingConnection()->write(R"({"type":"hello","protocol":1})"
                                               "\n");
        });
        service::ServiceClient client;
        QSignalSpy connected(&client, &service::ServiceClient::connected);
        client.connectTo(old.fullServerName());
        QVERIFY(connected.wait());
        Kelv_Main state;
        state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
        TrendBuffer trend;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.setRecorder([&client] { return &client; });
        window.showDays(QDate(2026, 12, 7), QDate(2026, 12, 7));
        QTRY_COMPARE(window.statusText(),
                     QStringLiteral("No history: the recorder is older (protocol 1) and cannot "
                                    "send its history."));
        QVERIFY(!window.history());
    }

    void liveOpensOnWhatItHolds_data()
    {
        QTest::addColumn<int>("heldSeconds");
        QTest::addColumn<int>("shownSeconds");
        QTest::newRow("nothing yet: a minute") << 0 << 60;
        QTest::newRow("ten seconds: a minute") << 10 << 60;
        QTest::newRow("twenty minutes: what is held") << 1200 << 1200;
        QTest::newRow("two hours: the chosen hour") << 7200 << 3600;
    }
    void liveOpensOnWhatItHolds()
    {
        QFETCH(int, heldSeconds);
        QFETCH(int, shownSeconds);
        Kelv_Main state;
        TrendBuffer trend;
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = heldSeconds; s > 0; s -= 2)
            trend.append(now.addSecs(-s), block(2000, false));
        QTemporaryDir dir;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const ChartView view = window.chart()->view();
        // Within the two seconds between the trend's newest block and the window's clock.
        QVERIFY2(std::abs((view.t1 - view.t0) - shownSeconds * 1000LL) <= 2000,
                 qPrintable(QString::number(view.t1 - view.t0)));
        QVERIFY(window.chart()->following());
    }

    void unitSwitchRedraws()
    {
        Kelv_Main state;
        TrendBuffer trend;
        const QDateTime now = QDateTime::currentDateTime();
        trend.append(now.addSecs(-4), block(2468, true));
        trend.append(now.addSecs(-2), block(2468, true));
        QTemporaryDir dir;
        Frm_Chart window(state, trend, dir.path());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        ChartPainter celsius(trend, ValueUnits{false, 10000});
        const QStringList c = celsius.readout(now.addSecs(-2).toMSecsSinceEpoch());
        ChartPainter fahrenheit(trend, ValueUnits{true, 10000});
        const QStringList f = fahrenheit.readout(now.addSecs(-2).toMSecsSinceEpoch());
        QCOMPARE(c.at(1), QStringLiteral("Actual Temperature: 24.68 \u00B0C"));
        QCOMPARE(f.at(1), QStringLiteral("Actual Temperature: 76.42 \u00B0F"));
        QCOMPARE(c.at(6), QStringLiteral("Relay: on"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        const int before = window.chart()->paintCount();
        state.settings.Use_Fahrenheit = true;
        window.onUnitChanged();
        QTRY_VERIFY(window.chart()->paintCount() > before);
        // A screen reader gets the newest values, in the unit now shown.
        QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(window.chart());
        QVERIFY(chart);
        QVERIFY2(chart->text(QAccessible::Description).contains(f.at(1)),
                 qPrintable(chart->text(QAccessible::Description)));
    }

    void chartIsTheLastLoggingEntry()
    {
        QTemporaryDir dir;
        Kelv_Main state;
        BoardSession session(state, dir.path());
        Frm_Main window(session);
        auto* logging = window.menuBar()->findChild<QMenu*>(QStringLiteral("mnuLogging"));
        QVERIFY(logging);
        const QList<QAction*> actions = logging->actions();
        QCOMPARE(actions.last()->text(), QStringLiteral("Chart"));
        QCOMPARE(actions.at(actions.size() - 2)->objectName(), QStringLiteral("mnuLogSettings"));
        actions.last()->trigger();
        QVERIFY(window.findChild<Frm_Chart*>());
    }
};

QTEST_MAIN(TestFrmChart)
#include "tst_frm_chart.moc"
