// The chart window: the live trend repaints at most once per block and not while hidden,
// recorded days are read in the background and shown with their counts, the unit switch
// redraws, and the main window's Logging menu ends with "Chart".

#include "core/register_words.h"
#include "link/board_session.h"
#include "windows/chart_widget.h"
#include "windows/frm_chart.h"
#include "windows/frm_main.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
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

    void historyShowsTheDaysRead()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("07-12-2026.txt")),
                  "07-12-2026,10:00:00,2468,1\r\n07-12-2026,10:00:02,65300,0\r\nbroken\r\n");
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
        window.showDays(QDate(2026, 12, 7), QDate(2026, 12, 8));
        QVERIFY(shown.wait(10000));
        QCOMPARE(window.mode(), Frm_Chart::Mode::History);
        QVERIFY(window.history());
        QCOMPARE(window.history()->seriesCount(), 2);
        QCOMPARE(window.statusText(), QStringLiteral("1 days, 3 lines, 1 skipped"));
        const ChartView view = window.chart()->view();
        QCOMPARE(view.t0, QDateTime(QDate(2026, 12, 7), QTime(0, 0)).toMSecsSinceEpoch());
        QCOMPARE(view.t1, QDateTime(QDate(2026, 12, 9), QTime(0, 0)).toMSecsSinceEpoch());
        // The actual temperature is drawn in its colour.
        QVERIFY(hasInk(window.chart()->image(), ChartPainter::seriesColor(0)));
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
