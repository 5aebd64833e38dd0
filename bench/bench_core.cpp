// Cost of the per-byte path and of the value conversions, without any event loop.
#include "core/register_words.h"
#include "link/link_protocol.h"
#include "logging/log_recorder.h"
#include "store/settings_file.h"
#include "values/duration.h"
#include "values/temperature.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace kelvaro;

namespace {

class NullHandler : public LinkHandler
{
public:
    void writeToBoard(QByteArrayView bytes) override { m_sent += bytes.size(); }

private:
    qsizetype m_sent = 0;
};

// Complete read exchanges ("Q", then "B" and 40 data bytes) fed byte by byte, including
// the image rebuild at the end of each block. Reported per received byte.
void readExchanges(benchmark::State& state)
{
    RegisterImage image;
    LinkFlags flags;
    NullHandler handler;
    LinkProtocol protocol(flags, image, handler);
    QByteArray exchange = "QB";
    for (int i = 0; i < BlockSize; ++i)
        exchange.append(char(i * 7));
    for (auto _ : state) {
        protocol.receive(exchange);
        benchmark::DoNotOptimize(image.Reg_Words);
    }
    state.SetItemsProcessed(state.iterations() * exchange.size());
    state.counters["ns_per_byte"] =
        benchmark::Counter(double(state.iterations() * exchange.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(readExchanges);

void temperatureText(benchmark::State& state)
{
    const QLocale locale(QLocale::German);
    qint32 word = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(temperatureWordText(word, true, locale));
        word = (word + 97) & 0xFFFF;
    }
}
BENCHMARK(temperatureText);

void durationText(benchmark::State& state)
{
    qint32 word = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(durationWordText(word, 9677));
        word = (word + 97) & 0xFFFF;
    }
}
BENCHMARK(durationText);

// A settings record with every section filled, as a configured installation has it.
Settings_Record configuredSettings()
{
    Settings_Record s;
    s.Comm_Port = 1;
    s.Comm_Baud = 9600;
    s.Comm_DTR = true;
    s.Ntc_T0 = 4850;
    s.Ntc_R0 = LooseValue::number(4540);
    s.Ntc_MinTH = LooseValue::number(-6);
    s.Ntc_MaxTH = 46;
    s.Ntc_R25 = LooseValue::number(10000);
    s.Ntc_B = LooseValue::number(4300);
    s.Timer_CalValue = LooseValue::number(9677);
    s.Log_Active = LooseValue::number(1);
    s.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    for (auto& field : s.Log_Fields)
        field = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
    s.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    s.Acrobat_Path = QStringLiteral("/usr/bin/evince");
    return s;
}

// Reading Settings.txt from disk, as at start-up.
void settingsLoad(benchmark::State& state)
{
    QTemporaryDir dir;
    SaveSettings(configuredSettings(), dir.path());
    for (auto _ : state) {
        Settings_Record record;
        benchmark::DoNotOptimize(LoadSettings(record, dir.path()));
    }
}
BENCHMARK(settingsLoad);

// Rewriting Settings.txt atomically (temporary file, flush to disk, rename).
void settingsSave(benchmark::State& state)
{
    QTemporaryDir dir;
    const Settings_Record record = configuredSettings();
    for (auto _ : state)
        benchmark::DoNotOptimize(bool(SaveSettings(record, dir.path())));
}
BENCHMARK(settingsSave)->Unit(benchmark::kMicrosecond);

// The same without the disk: the bytes of the file.
void settingsBytes(benchmark::State& state)
{
    const Settings_Record record = configuredSettings();
    for (auto _ : state)
        benchmark::DoNotOptimize(settingsFileBytes(record).value());
}
BENCHMARK(settingsBytes);

// One pass of the data logger with ten fields whose counter changes every pass, so each
// pass appends a line to the day's file.
void logPass(benchmark::State& state)
{
    QTemporaryDir dir;
    Kelv_Main kelv;
    Init_Field_Names(kelv.Field_Names);
    Init_Event_Names(kelv.Event_Names);
    kelv.settings = configuredSettings();
    const QDateTime now(QDate(2026, 12, 7), QTime(17, 5, 3));
    const Clock clock = [&now] { return now; };
    for (auto _ : state) {
        ++kelv.registers.Reg_Words[reg::Status];
        benchmark::DoNotOptimize(LogTick(kelv, dir.path(), clock).wrote);
    }
}
BENCHMARK(logPass);

} // namespace

BENCHMARK_MAIN();
