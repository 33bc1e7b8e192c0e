// A market-data provider's reply, from the bytes it sends to the answer the
// service gives the display: the JSON reading, the mapping to QuoteData, the
// error and rate-limit shapes, and the redaction of the key. Built once per
// provider (TALLOW_FUZZ_PROVIDER names it). The input is the HTTP status and
// optional Retry-After value on the first line, then the body.
#include "fuzzcheck.h"
#include "gateway.h"
#include "protocol.h"

#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace quoted;

// A made-up key.
const std::string Key = "k3yS3CR3Tq9Zw";

std::size_t occurrences(const std::string &text, const std::string &piece)
{
    std::size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// The key, or the start of it where a long provider text that echoes the key
// was cut short ("..."). The cut is looked for only when every start of the key
// in the body begins the whole key, so that a piece the body holds of itself is
// not taken for one.
bool showsKey(const std::string &text, const std::string &body)
{
    if (text.find(Key) != std::string::npos)
        return true;
    const std::string start = Key.substr(0, 3);
    if (body.find(Key) == std::string::npos || occurrences(body, start) != occurrences(body, Key))
        return false;
    for (size_t length = start.size(); length < Key.size(); ++length)
        if (text.find(Key.substr(0, length) + "...") != std::string::npos)
            return true;
    return false;
}

// Checks a QuoteData answer: well-formed, the symbol first, every figure in
// the shape the display shows.
void checkQuoteData(const std::string &xml, const std::string &symbol)
{
    // Amounts keep the provider's sign: some instruments do trade below zero.
    static const QRegularExpression amount(QStringLiteral("^-?\\d+\\.\\d{2}(\\d{2})?$"));
    static const QRegularExpression change(QStringLiteral("^[+-]?\\d+\\.\\d{2}(\\d{2})?$"));
    static const QRegularExpression percent(QStringLiteral("^[+-]?\\d+\\.\\d{2}%$"));
    static const QRegularExpression volume(QStringLiteral("^\\d+$"));
    // A Unix time formatted in UTC, or the trading day as alphavantage wrote it.
    static const QRegularExpression stamp(
            std::string_view(TALLOW_FUZZ_PROVIDER) == "alphavantage"
                    ? QStringLiteral("^[^\\x00-\\x1f]{10}T00:00:00$")
                    : QStringLiteral("^\\d{4,}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"));
    // One line of plain text for the display.
    static const QRegularExpression notice(QStringLiteral("^[^\\x00-\\x1f\\x7f]{1,120}$"));
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("QuoteData"), xml);
    CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("StockSymbol"), xml);
    CHECK(reader.readElementText().toStdString() == symbol, xml);
    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString();
        const QString text = reader.readElementText();
        const QRegularExpression *shape = nullptr;
        if (name == QLatin1String("LastTradeAmount") || name == QLatin1String("OpenAmount")
            || name == QLatin1String("DayHigh") || name == QLatin1String("DayLow")
            || name == QLatin1String("PrevCls"))
            shape = &amount;
        else if (name == QLatin1String("StockChange"))
            shape = &change;
        else if (name == QLatin1String("ChangePercent"))
            shape = &percent;
        else if (name == QLatin1String("StockVolume"))
            shape = &volume;
        else if (name == QLatin1String("LastTradeDateTime"))
            shape = &stamp;
        else if (name == QLatin1String("Notice"))
            shape = &notice;
        CHECK(shape && shape->match(text).hasMatch(),
              name.toStdString() + ": " + text.toStdString() + "\n" + xml);
    }
    reader.readNext();
    CHECK(!reader.hasError() && reader.atEnd(), xml);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t lineEnd = input.find('\n');
    const std::string head = input.substr(0, lineEnd);
    ProviderReply reply;
    reply.status = 200;
    if (lineEnd != std::string::npos) {
        reply.body = input.substr(lineEnd + 1);
        // An HTTP status has three digits.
        reply.status = std::strtol(head.substr(0, 3).c_str(), nullptr, 10);
        if (const size_t blank = head.find(' '); blank != std::string::npos)
            reply.retryAfter = head.substr(blank + 1);
    } else {
        reply.body = input;
    }

    std::vector<std::string> logged;
    int fetches = 0;
    const auto start = std::chrono::steady_clock::time_point(std::chrono::hours(1000));
    auto now = start;
    Gateway gateway(
            {providerNamed(TALLOW_FUZZ_PROVIDER), "https://provider.invalid/api", Key,
             std::chrono::seconds(60), std::chrono::seconds(900)},
            [&](const std::string &url) {
                ++fetches;
                CHECK(url.find("symbol=MSFT") != std::string::npos, url);
                return reply;
            },
            [&] { return now; }, [&](const std::string &line) { logged.push_back(line); });

    const std::string symbol = "msft";
    const Gateway::Answer first = gateway.quote(symbol);
    CHECK(first.status == 200 || first.status == 503, std::to_string(first.status));
    CHECK(!showsKey(first.body, reply.body), first.body);
    for (const std::string &line : logged) {
        CHECK(!showsKey(line, reply.body), line);
        CHECK(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos, line);
    }
    if (first.status == 200) {
        checkQuoteData(first.body, symbol);
        CHECK(logged.empty(), logged.front());
    } else {
        CHECK(logged.size() == 1, std::to_string(logged.size()));
    }

    // Within the cache period the same answer comes without asking again.
    now += std::chrono::seconds(30);
    const Gateway::Answer again = gateway.quote(symbol);
    CHECK(fetches == 1, std::to_string(fetches));
    if (first.status == 200)
        CHECK(again.status == 200 && again.body == first.body, again.body);
    return 0;
}
