// The recorder's history read through its socket against the same read of the folder in
// this process, in one run: a year of daily log files as the chart's summary, the lines of
// a week (a close view), and the daily report. The local reads are the floor; each
// service figure also says how many times the floor it took ("x_local") and how large its
// answer was ("answer_bytes", "answer_lines", all the lines the client received).
//
//   bench_history_service [--benchmark_...]            a year written here, a line every 10 s
//   KELVARO_BENCH_YEAR=FOLDER bench_history_service    a folder of bench/gen_year_logs.py
//   KELVARO_BENCH_STEP=2 bench_history_service         a line every 2 s, as the recorder
//                                                      writes on every change of the board
//   KELVARO_BENCH_SSH=ssh://127.0.0.1:PORT ...         the socket reached through ssh

#include "history/daily_report.h"
#include "history/field_meaning.h"
#include "history/history_command.h"
#include "history/history_data.h"
#include "link/board_session.h"
#include "service/remote_history.h"
#include "service/service_client.h"
#include "service/service_server.h"
#include "store/settings_file.h"
#include "values/parameter_values.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>

using namespace kelvaro;
using namespace kelvaro::service;

namespace {

const QDate First(2025, 1, 1);
const QDate Last(2025, 12, 31);
const QDate WeekFrom(2025, 6, 10);
const QDate WeekTo(2025, 6, 16);

// The year's folder, the recorder's session and socket over it, and a client.
struct Year
{
    QTemporaryDir scratch;
    QString folder;
    Kelv_Main state;
    std::unique_ptr<BoardSession> session;
    std::unique_ptr<ServiceServer> server;
    std::unique_ptr<ServiceClient> client;
    std::unique_ptr<RemoteHistory> remote;
    QStringList names;
    std::vector<LogDayFile> files;
    std::map<std::string, double> localSeconds; // the floor of each benchmark, per run

    Year()
    {
        Init_Field_Names(state.Field_Names);
        Init_Event_Names(state.Event_Names);
        folder = qEnvironmentVariable("KELVARO_BENCH_YEAR");
        if (folder.isEmpty()) {
            folder = scratch.path();
            write(qEnvironmentVariableIntValue("KELVARO_BENCH_STEP"));
        }
        LoadSettings(state.settings, folder);
        names = loggedFieldNames(state.settings, state.Field_Names);
        files = findLogDays(folder, state.settings.Log_NameFormat.toText(), First, Last);
        session = std::make_unique<BoardSession>(state, folder);
        server = std::make_unique<ServiceServer>(*session, QStringLiteral("kelvaro-recorder"),
                                                 [](const QString&) {});
        const QString socket = scratch.filePath(QStringLiteral("kelvaro.sock"));
        if (!server->listen(socket))
            std::fprintf(stderr, "cannot listen on %s\n", qPrintable(socket));
        client = std::make_unique<ServiceClient>();
        QEventLoop loop;
        QObject::connect(client.get(), &ServiceClient::connected, &loop, &QEventLoop::quit);
        // Through ssh when asked: KELVARO_BENCH_SSH=ssh://127.0.0.1:PORT (the far side's
        // kelvaro-ctl and KELVARO_SSH_COMMAND as for kelvaro --attach).
        client->connectTo(qEnvironmentVariable("KELVARO_BENCH_SSH") + socket);
        loop.exec();
        remote = std::make_unique<RemoteHistory>(*client);
    }

    // A year as the recorder writes it: the actual temperature, the relay and the average,
    // a line every `step` seconds (10 when not given).
    void write(int step)
    {
        step = step > 0 ? step : 10;
        Settings_Record settings;
        settings.Log_Active = LooseValue::number(1);
        settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
        for (LooseValue& field : settings.Log_Fields)
            field = LooseValue::text(QStringLiteral("None"));
        settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
        settings.Log_Fields[1] = LooseValue::text(QStringLiteral("Relay Status (h08)"));
        settings.Log_Fields[2] = LooseValue::text(QStringLiteral("Average Temperature (i16)"));
        settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
        SaveSettings(settings, folder);
        for (QDate date = First; date <= Last; date = date.addDays(1)) {
            const QByteArray stamp = date.toString(QStringLiteral("dd-MM-yyyy")).toLatin1();
            QByteArray bytes;
            for (int s = 0; s < 86400; s += step) {
                const int t = 2000 + (s / 60) % 300;
                bytes += stamp + ',' +
                         QTime(0, 0).addSecs(s).toString(QStringLiteral("HH:mm:ss")).toLatin1() +
                         ',' + QByteArray::number(t) + ',' + QByteArray::number((s / 600) % 2) +
                         ',' + QByteArray::number(t - 3) + "\r\n";
            }
            QFile file(QDir(folder).filePath(QString::fromLatin1(stamp) + QStringLiteral(".txt")));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        }
    }

    // Runs the event loop until `done`.
    template <class Done> void until(Done done)
    {
        while (!done())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    // The bytes and lines of one answer to `request` (a raw client beside the benchmark's).
    std::pair<qint64, qint64> answerSize(const QByteArray& request)
    {
        QLocalSocket socket;
        socket.connectToServer(server->path());
        socket.write(request + '\n');
        qint64 bytes = 0;
        qint64 lines = 0;
        QByteArray buffer;
        bool ended = false;
        QObject::connect(&socket, &QLocalSocket::readyRead, [&] {
            const QByteArray read = socket.readAll();
            buffer += read;
            qsizetype end = 0;
            while ((end = buffer.indexOf('\n')) >= 0) {
                const QByteArray line = buffer.left(end + 1);
                buffer.remove(0, end + 1);
                if (line.contains("\"type\":\"hello\""))
                    continue;
                bytes += line.size();
                ++lines;
                ended = ended || line.contains("\"type\":\"end\"") ||
                        line.contains("\"type\":\"error\"");
            }
        });
        until([&] { return ended; });
        return {bytes, lines};
    }

    void count(benchmark::State& bench, const std::string& floor, const QByteArray& request)
    {
        const auto [bytes, lines] = answerSize(request);
        bench.counters["answer_bytes"] = double(bytes);
        bench.counters["answer_lines"] = double(lines);
        // The real time per iteration over the floor's: a rate of the floor's total, inverted.
        const auto local = localSeconds.find(floor);
        if (local != localSeconds.end() && bench.iterations() > 0)
            bench.counters["x_local"] =
                benchmark::Counter(local->second * double(bench.iterations()),
                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }
};

Year& year()
{
    static Year y;
    return y;
}

void recordLocal(benchmark::State& state, const std::string& name, double seconds)
{
    year().localSeconds[name] = seconds / double(state.iterations());
}

void localYear(benchmark::State& state)
{
    Year& y = year();
    QElapsedTimer clock;
    clock.start();
    qint64 lines = 0;
    for (auto _ : state)
        lines = HistoryData::load(y.files, y.names, readingThreads())->totalLines();
    recordLocal(state, "year", double(clock.nsecsElapsed()) / 1e9);
    state.counters["days"] = double(y.files.size());
    state.counters["lines"] = double(lines);
}
BENCHMARK(localYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The history of [from, to] through the socket, as often as the benchmark runs.
void serviceHistory(benchmark::State& state, const QDate& from, const QDate& to, const char* name)
{
    Year& y = year();
    for (auto _ : state) {
        std::shared_ptr<const HistoryData> got;
        QObject context;
        QObject::connect(
            y.remote.get(), &RemoteHistory::historyReady, &context,
            [&](std::shared_ptr<const HistoryData> d, const QStringList&) { got = d; });
        y.remote->requestHistory(from, to);
        y.until([&] { return got != nullptr; });
    }
    const QString request = QStringLiteral(R"({"type":"history","id":1,"from":"%1","to":"%2"})")
                                .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    y.count(state, name, request.toUtf8());
}

void serviceYear(benchmark::State& state)
{
    serviceHistory(state, First, Last, "year");
}
BENCHMARK(serviceYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void localWeek(benchmark::State& state)
{
    Year& y = year();
    const std::vector<LogDayFile> week =
        findLogDays(y.folder, QStringLiteral("DD-MM-YYYY"), WeekFrom, WeekTo);
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state)
        benchmark::DoNotOptimize(HistoryData::load(week, y.names, readingThreads()));
    recordLocal(state, "week", double(clock.nsecsElapsed()) / 1e9);
}
BENCHMARK(localWeek)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void serviceWeek(benchmark::State& state)
{
    serviceHistory(state, WeekFrom, WeekTo, "week");
}
BENCHMARK(serviceWeek)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void localReport(benchmark::State& state)
{
    Year& y = year();
    const ValueUnits units{y.state.settings.Use_Fahrenheit,
                           calibrationValue(y.state.settings.Timer_CalValue)};
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        benchmark::DoNotOptimize(reportCsv(
            summariseLogDays(y.files, columnKinds(y.names), readingThreads()), y.names, units));
    }
    recordLocal(state, "report", double(clock.nsecsElapsed()) / 1e9);
}
BENCHMARK(localReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void serviceReport(benchmark::State& state)
{
    Year& y = year();
    for (auto _ : state) {
        bool done = false;
        QObject context;
        QObject::connect(y.remote.get(), &RemoteHistory::reportReady, &context,
                         [&](const QByteArray&, const QStringList&, int, int) { done = true; });
        y.remote->requestReport(First, Last);
        y.until([&] { return done; });
    }
    y.count(state, "report", R"({"type":"report","id":1,"from":"2025-01-01","to":"2025-12-31"})");
}
BENCHMARK(serviceReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    year(); // the year is written before the first figure
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
