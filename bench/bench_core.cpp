// Cost of the per-byte path and of the value conversions, without any event loop.
#include "link/link_protocol.h"
#include "values/duration.h"
#include "values/temperature.h"

#include <benchmark/benchmark.h>

using namespace kelvaro;

namespace {

class NullHandler : public LinkHandler
{
public:
    explicit NullHandler(RegisterImage& image) : m_image(image) {}
    void writeToBoard(QByteArrayView bytes) override { m_sent += bytes.size(); }
    void Update_Param() override { m_image.Update_Param(); }
    void Update_Inputs() override {}
    void setLinkStatus(const QString&) override {}

private:
    RegisterImage& m_image;
    qsizetype m_sent = 0;
};

// Complete read exchanges ("Q", then "B" and 40 data bytes) fed byte by byte, including
// the image rebuild at the end of each block. Reported per received byte.
void readExchanges(benchmark::State& state)
{
    RegisterImage image;
    LinkFlags flags;
    NullHandler handler(image);
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

} // namespace

BENCHMARK_MAIN();
