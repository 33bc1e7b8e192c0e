// The service's data file: the CSV table, the price walk of every listing it
// yields and the QuoteData reply written for it, which must stay well-formed
// XML that names the symbol as the request spelled it.
#include "fuzzcheck.h"
#include "quotebook.h"

#include <QString>
#include <QXmlStreamReader>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// The text of StockSymbol, or nothing when the document is not well-formed
// QuoteData.
std::optional<QString> symbolOf(const std::string &xml)
{
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("QuoteData"))
        return std::nullopt;
    std::optional<QString> symbol;
    while (reader.readNextStartElement()) {
        const bool isSymbol = reader.name() == QLatin1String("StockSymbol");
        const QString text = reader.readElementText();
        if (isSymbol && !symbol)
            symbol = text;
    }
    reader.readNext();
    if (reader.hasError() || !reader.atEnd())
        return std::nullopt;
    return symbol;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace quoted;
    const std::string_view csv(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> problems;
    const auto table = parseTable(csv, problems);
    if (!table)
        return 0;

    // A slot that moves with the input, inside the 2020s.
    const std::int64_t slot = 2'900'000 + std::int64_t(size * 7919 % (400 * kSlotsPerDay));
    int checked = 0;
    for (const auto &[key, listing] : table->bySymbol) {
        if (++checked > 64)
            break;
        CHECK(isPrintableUtf8(listing.symbol), listing.symbol);
        CHECK(table->find(listing.symbol) == &listing, listing.symbol);
        CHECK(listing.previousClose > 0, listing.symbol);
        const Quote q = quoteAt(listing, slot);
        CHECK(q.low <= q.last && q.last <= q.high && q.low > 0, listing.symbol);
        if (!listing.last)
            CHECK(std::abs(q.last - listing.previousClose) <= listing.previousClose / 10,
                  listing.symbol);
        const std::string xml = quoteXml(listing.symbol, &q);
        const auto echoed = symbolOf(xml);
        // Compared as bytes: QString::fromUtf8 would drop a leading U+FEFF.
        CHECK(echoed && echoed->toUtf8().toStdString() == listing.symbol, xml);
    }
    return 0;
}
