// The quote service's reply, from the fetched bytes to the quote text: the
// UTF-8 reading, the DOCTYPE and nesting refusals, the DOM, the name tests and
// the lines built. Error boxes go to a silent seam and are checked.
#include "fuzzsupport.h"

#include "app/errortrap.h"
#include "app/scopedoverride.h"
#include "quote/quote.h"

namespace {

class ReplyFetcher final : public Quote::Fetcher
{
public:
    QByteArray get(const QString &) override { return reply; }
    QByteArray reply;
};

ReplyFetcher gFetcher;
Fuzz::SilentDialogs gDialogs;
Fuzz::FixedClock gClock;

const QString Symbol = QStringLiteral("MSFT");

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::startApplication();
    // Installed for the life of the process.
    static ScopedOverride<Quote::Fetcher> fetcher(gFetcher);
    static ScopedOverride<Dialogs> dialogs(gDialogs);
    static ScopedOverride<Clock> clock(gClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    gFetcher.reply = Fuzz::bytes(data, size);
    gDialogs.messages.clear();
    // The trap the display's fetch runs under.
    ErrorTrap trap(QStringLiteral("Form2"), QStringLiteral("getStockQuote"));
    const QString text = Quote::getStockQuote(trap, Symbol);

    const QString boxes = gDialogs.messages.join(QStringLiteral("\n---\n"));
    const bool refused = !gDialogs.messages.isEmpty()
            && gDialogs.messages.first().startsWith(u"Error reading XML API");
    // A refused reply yields no text and exactly one box; text that is shown
    // always starts with the symbol line.
    if (refused)
        FUZZ_CHECK(text.isEmpty() && gDialogs.messages.size() == 1, boxes);
    if (!text.isEmpty())
        FUZZ_CHECK(text.startsWith(Symbol + QStringLiteral("\r\n")), text);
    if (size == 0)
        FUZZ_CHECK(text.isEmpty() && gDialogs.messages.isEmpty(), boxes);
    return 0;
}
