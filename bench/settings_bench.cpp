// Benchmarks of the settings store in a folder of its own: saves that change
// the value (each keystroke in the symbol box makes one), plain or needing
// escapes, and one that writes back the value already stored (start-up makes
// one per setting).

#include "app/settings.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A store with every setting in it, as a returning user's holds.
void fillStore()
{
    for (const QString &key :
         {Settings::Key::Text1, Settings::Key::Combo1, Settings::Key::Check1, Settings::Key::Check4,
          Settings::Key::FontName, Settings::Key::FontSize, Settings::Key::FontColor,
          Settings::Key::BackgroundColor})
        Settings::save(key, QStringLiteral("1"));
}

// Saves that alternate between two values of `key`: `format` with 0 and 1.
void saveChangedValue(benchmark::State &state, const QString &key, const QString &format)
{
    fillStore();
    int n = 0;
    for (auto _ : state)
        Settings::save(key, format.arg(++n % 2));
}
BENCHMARK_CAPTURE(saveChangedValue, plain, Settings::Key::Text1, QStringLiteral("MSFT%1"))
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5);
// A key with a blank, and a value with a comma: both need escaping.
BENCHMARK_CAPTURE(saveChangedValue, escaped, Settings::Key::FontColor, QStringLiteral("1,%1"))
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5);

void saveStoredValue(benchmark::State &state)
{
    fillStore();
    for (auto _ : state)
        Settings::save(Settings::Key::Combo1, QStringLiteral("1"));
}
BENCHMARK(saveStoredValue)->Unit(benchmark::kMicrosecond)->Repetitions(5);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
