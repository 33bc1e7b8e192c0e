// The cost of one refresh tick of the display: a five-line quote at 72 pt bold
// on a 1920x1080 window, drawn offscreen, pending events (the paint) included.

#include "app/forms.h"
#include "app/seams.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/windows.h"
#include "quote/quote.h"

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

class CannedQuote : public Quote::Fetcher
{
public:
    QByteArray get(const QString &) override
    {
        return "<?xml version=\"1.0\"?><QuoteData><StockSymbol>MSFT</StockSymbol>"
               "<LastTradeAmount>412.35</LastTradeAmount><StockChange>+1.23</StockChange>"
               "<ChangePercent>+0.30%</ChangePercent></QuoteData>";
    }
};

// Any box would block the benchmark; none is expected.
class NoDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &, const QString &, BoxIcon) override { }
    void chooseFont(QWidget *, FontChoice &) override { }
    void chooseColor(QWidget *, std::uint32_t &) override { }
};

void displayTick(benchmark::State &state)
{
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    CannedQuote quote;
    NoDialogs dialogs;
    const ScopedOverride<Quote::Fetcher> fetcher(quote);
    const ScopedOverride<Dialogs> noBoxes(dialogs);
    Forms::registerWindows();

    Form1 *form1 = Forms::form1();
    form1->show();
    form1->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("MSFT"));
    form1->PushButton1_Click();
    Form2 *form2 = Forms::loadedForm2();
    form2->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    form2->findChild<QTimer *>(QStringLiteral("Timer2"))->stop();
    form2->setGeometry(0, 0, 1920, 1080);
    QApplication::processEvents();
    form2->Timer1_Timer(); // the first tick shows the picture box

    for (auto _ : state)
        form2->Timer1_Timer();

    Forms::destroyAll();
}
BENCHMARK(displayTick)->Unit(benchmark::kMicrosecond)->Repetitions(10);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
