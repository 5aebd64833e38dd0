// Benchmark of the chart window, offscreen:
//   kelvaro-bench-chart --day FOLDER YYYY-MM-DD [RUNS]
//       one day's history: from choosing the day to the painted chart, median of RUNS (7);
//   kelvaro-bench-chart --range FOLDER FROM TO [RUNS]
//       the same for the days FROM to TO (YYYY-MM-DD), median of RUNS (3);
//   kelvaro-bench-chart --live SECONDS [INTERVAL-MS]
//       the live trend at the demo's pace (a block every 250 ms): CPU of the process as
//       % of one core, and repaints against blocks.

#include "core/register_words.h"
#include "history/trend_buffer.h"
#include "store/settings_file.h"
#include "windows/chart_widget.h"
#include "windows/frm_chart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>

using namespace kelvaro;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int benchDays(const char* name, const QString& folder, const QDate& from, const QDate& to, int runs)
{
    Kelv_Main state;
    Init_Field_Names(state.Field_Names);
    LoadSettings(state.settings, folder);
    TrendBuffer trend(16);
    Frm_Chart window(state, trend, folder);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1000, 620);
    window.show();
    QCoreApplication::processEvents();
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        // The paint that counts is the first one after the days were handed to the chart.
        int paintsAtShown = -1;
        const auto shownConnection = QObject::connect(&window, &Frm_Chart::historyShown, [&] {
            paintsAtShown = window.chart()->paintCount();
        });
        clock.start();
        window.showDays(from, to);
        while (paintsAtShown < 0 || window.chart()->paintCount() <= paintsAtShown)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        QObject::disconnect(shownConnection);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s median %.1f min %.1f max %.1f lines %lld\n", name, times[times.size() / 2],
                times.front(), times.back(),
                static_cast<long long>(window.history() ? window.history()->totalLines() : 0));
    return 0;
}

int benchLive(int seconds, int intervalMs)
{
    Kelv_Main state;
    TrendBuffer trend;
    Frm_Chart window(state, trend, QString());
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1000, 620);
    window.show();
    // An hour of trend already held, so each repaint draws real data.
    const QDateTime start = QDateTime::currentDateTime();
    std::array<qint32, RegisterCount> words{};
    words[reg::LowRising] = 2150;
    words[reg::LowFalling] = 2050;
    words[reg::LowerSetpoint] = 1800;
    int blocks = 0;
    auto next = [&](const QDateTime& time) {
        const double t = 2100 + 80 * std::sin(blocks / 200.0);
        words[reg::Actual] = int(t);
        words[reg::Average] = int(t) - 5;
        words[reg::Status] = (t < 2100 ? 1 : 0) << 8;
        trend.append(time, words);
        ++blocks;
    };
    for (int i = 3600 * 1000 / intervalMs; i > 0; --i)
        next(start.addMSecs(-qint64(i) * intervalMs));
    QCoreApplication::processEvents();

    blocks = 0;
    const int paintsBefore = window.chart()->paintCount();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        next(QDateTime::currentDateTime());
        window.onTrendAppended();
    });
    timer.start();
    QTimer::singleShot(seconds * 1000, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = double(clock.elapsed()) / 1000.0;
    std::printf("live_cpu_percent %.2f blocks %d repaints %d seconds %.1f\n", 100.0 * cpu / wall,
                blocks, window.chart()->paintCount() - paintsBefore, wall);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 4 && args.at(1) == QStringLiteral("--day")) {
        const QDate day = QDate::fromString(args.at(3), Qt::ISODate);
        return benchDays("one_day_ms", args.at(2), day, day,
                         args.size() > 4 ? args.at(4).toInt() : 7);
    }
    if (args.size() >= 5 && args.at(1) == QStringLiteral("--range"))
        return benchDays("range_ms", args.at(2), QDate::fromString(args.at(3), Qt::ISODate),
                         QDate::fromString(args.at(4), Qt::ISODate),
                         args.size() > 5 ? args.at(5).toInt() : 3);
    if (args.size() >= 3 && args.at(1) == QStringLiteral("--live"))
        return benchLive(args.at(2).toInt(), args.size() > 3 ? args.at(3).toInt() : 250);
    std::fputs("usage: kelvaro-bench-chart --day FOLDER YYYY-MM-DD [RUNS] | --range FOLDER FROM TO "
               "[RUNS] | --live SECONDS [INTERVAL-MS]\n",
               stderr);
    return 2;
}
