// Benchmarks of the quote client: turning a typical reply into the quote text,
// and, when QUOTE_BENCH_URL names a running quote service, one whole fetch.

#include "app/errortrap.h"
#include "quote/networkfetcher.h"
#include "quote/quote.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

const QString TypicalReply = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                            "<QuoteData>\n"
                                            "  <StockSymbol>MSFT</StockSymbol>\n"
                                            "  <LastTradeAmount>331.16</LastTradeAmount>\n"
                                            "  <LastTradeDateTime>2026-12-08T20:50:00"
                                            "</LastTradeDateTime>\n"
                                            "  <StockChange>-0.42</StockChange>\n"
                                            "  <ChangePercent>-0.13%</ChangePercent>\n"
                                            "  <OpenAmount>331.40</OpenAmount>\n"
                                            "  <DayHigh>332.05</DayHigh>\n"
                                            "  <DayLow>330.12</DayLow>\n"
                                            "  <PrevCls>331.58</PrevCls>\n"
                                            "  <StockVolume>20418</StockVolume>\n"
                                            "</QuoteData>\n");

void quoteTextFromReply(benchmark::State &state)
{
    ErrorTrap trap(QStringLiteral("Form2"), QStringLiteral("getStockQuote"));
    for (auto _ : state)
        benchmark::DoNotOptimize(Quote::buildQuoteText(trap, QStringLiteral("MSFT"), TypicalReply));
}
BENCHMARK(quoteTextFromReply)->Unit(benchmark::kMicrosecond)->Repetitions(10);

// One request per repetition, so the median is that of single round trips.
void fetchFromService(benchmark::State &state)
{
    const char *url = std::getenv("QUOTE_BENCH_URL");
    if (!url) {
        state.SkipWithError("QUOTE_BENCH_URL is not set");
        return;
    }
    Quote::NetworkFetcher fetcher;
    for (auto _ : state)
        benchmark::DoNotOptimize(fetcher.get(QString::fromUtf8(url)));
}
BENCHMARK(fetchFromService)
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(1)
        ->Repetitions(200)
        ->UseRealTime();

} // namespace

// QtNetwork needs the application object.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
