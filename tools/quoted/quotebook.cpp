#include "quotebook.h"

#include <algorithm>
#include <cmath>

namespace quoted {

namespace {

std::vector<std::string_view> split(std::string_view s, char sep)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const auto end = s.find(sep, start);
        parts.push_back(trimBlanks(s.substr(start, end - start), " \t\r"));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A positive price of at most a billion, rounded to cents.
std::optional<Cents> parsePrice(std::string_view s)
{
    const auto value = parseNumber<double>(s);
    if (!value || !std::isfinite(*value) || *value <= 0 || *value > 1e9)
        return std::nullopt;
    const Cents cents = std::llround(*value * 100);
    return cents > 0 ? std::optional<Cents>(cents) : std::nullopt;
}

// splitmix64: a fixed, well-mixed hash, so the walk is the same on every build.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t hashText(std::string_view s) // FNV-1a
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : s)
        h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

} // namespace

const Listing *Table::find(std::string_view symbol) const
{
    const auto it = bySymbol.find(upperAscii(symbol));
    return it == bySymbol.end() ? nullptr : &it->second;
}

std::optional<Table> parseTable(std::string_view csv, std::vector<std::string> &problems)
{
    if (csv.substr(0, 3) == "\xEF\xBB\xBF")
        csv.remove_prefix(3);
    const auto lines = split(csv, '\n');
    size_t row = 0;
    while (row < lines.size() && lines[row].empty())
        ++row;
    if (row == lines.size()) {
        problems.push_back("no header line");
        return std::nullopt;
    }

    std::vector<std::string> header; // column names, compared in upper case
    for (const auto name : split(lines[row], ','))
        header.push_back(upperAscii(name));
    const auto column = [&](std::string_view name) {
        const auto it = std::find(header.begin(), header.end(), name);
        return it == header.end() ? -1 : int(it - header.begin());
    };
    const int symbolCol = column("SYMBOL"), closeCol = column("PREVIOUS_CLOSE"),
              lastCol = column("LAST");
    if (symbolCol < 0 || closeCol < 0) {
        problems.push_back("header must name the columns symbol and previous_close");
        return std::nullopt;
    }

    Table table;
    for (++row; row < lines.size(); ++row) {
        if (lines[row].empty())
            continue;
        const std::string where = "line " + std::to_string(row + 1) + ": ";
        const auto fields = split(lines[row], ',');
        if (fields.size() > header.size()) {
            problems.push_back(where + "more fields than the header names");
            continue;
        }
        const auto field = [&](int col) {
            return col >= 0 && size_t(col) < fields.size() ? fields[col] : std::string_view();
        };
        Listing listing{std::string(field(symbolCol)), 0, std::nullopt};
        const auto close = parsePrice(field(closeCol));
        const auto last = parsePrice(field(lastCol));
        if (listing.symbol.empty() || !isPrintableUtf8(listing.symbol)) {
            problems.push_back(where + "missing or unreadable symbol");
        } else if (!close || (!field(lastCol).empty() && !last)) {
            problems.push_back(where + "price is not a positive number");
        } else {
            listing.previousClose = *close;
            listing.last = last;
            const std::string key = upperAscii(listing.symbol);
            if (!table.bySymbol.emplace(key, std::move(listing)).second)
                problems.push_back(where + "duplicate symbol " + escapeForLog(key) + " ignored");
        }
    }
    return table;
}

Quote quoteAt(const Listing &listing, std::int64_t slot)
{
    Quote q;
    q.slot = slot;
    q.previousClose = q.open = q.last = q.high = q.low = listing.previousClose;
    if (listing.last) {
        q.last = *listing.last;
        q.high = std::max(q.open, q.last);
        q.low = std::min(q.open, q.last);
        return q;
    }

    const std::int64_t day = slot >= 0 ? slot / kSlotsPerDay : (slot + 1) / kSlotsPerDay - 1;
    const Cents bound = listing.previousClose / 10;
    const Cents maxStep = std::max<Cents>(1, listing.previousClose / 250);
    const std::uint64_t seed = mix(hashText(upperAscii(listing.symbol)) ^ mix(std::uint64_t(day)));
    Cents offset = 0;
    for (std::int64_t s = day * kSlotsPerDay; s <= slot; ++s) {
        const std::uint64_t h = mix(seed + std::uint64_t(s));
        q.volume += 1000 + std::int64_t((h >> 40) % 150000);
        if (s == day * kSlotsPerDay || bound == 0)
            continue; // the first slot of the day trades at the open
        // Every step moves by at least a cent, so each slot shows a new price;
        // a step that would leave the band is taken the other way instead.
        const Cents step = Cents(1 + (h % std::uint64_t(maxStep))) * ((h >> 32) & 1 ? 1 : -1);
        offset = std::abs(offset + step) <= bound ? offset + step : offset - step;
        q.last = listing.previousClose + offset;
        q.high = std::max(q.high, q.last);
        q.low = std::min(q.low, q.last);
    }
    return q;
}

std::string quoteXml(std::string_view symbol, const Quote *quote, std::string_view notice)
{
    if (!quote)
        return quoteDataXml(symbol, {}, notice);
    const Cents change = quote->last - quote->previousClose;
    // Hundredths of a percent, rounded half away from zero.
    const Cents basis = (std::abs(change) * 20000 + quote->previousClose)
            / (2 * quote->previousClose) * (change < 0 ? -1 : 1);
    const std::string percent = fixedPoint(basis, 2, false);
    const char *percentSign = change > 0 ? "+" : (change < 0 && basis == 0 ? "-" : "");

    const std::string stamp = utcText(quote->slot * kSlotSeconds, "%Y-%m-%dT%H:%M:%S");

    return quoteDataXml(symbol,
                        {{"LastTradeAmount", fixedPoint(quote->last, 2, false)},
                         {"LastTradeDateTime", stamp},
                         {"StockChange", fixedPoint(change, 2, true)},
                         {"ChangePercent", percentSign + percent + "%"},
                         {"OpenAmount", fixedPoint(quote->open, 2, false)},
                         {"DayHigh", fixedPoint(quote->high, 2, false)},
                         {"DayLow", fixedPoint(quote->low, 2, false)},
                         {"PrevCls", fixedPoint(quote->previousClose, 2, false)},
                         {"StockVolume", std::to_string(quote->volume)}},
                        notice);
}

} // namespace quoted
