// The quote table behind tallow-quoted: reading the CSV, walking prices in
// ten-minute steps and writing the XML reply. Nothing here does I/O, so the
// tests can drive it directly.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quoted {

// Prices are kept in cents so that walking, comparing and printing stay exact.
using Cents = std::int64_t;

constexpr std::int64_t kSlotSeconds = 600;
constexpr std::int64_t kSlotsPerDay = 86400 / kSlotSeconds;

struct Listing
{
    std::string symbol; // as written in the CSV
    Cents previousClose = 0;
    std::optional<Cents> last; // a fixed last trade that replaces the walk
};

struct Table
{
    std::map<std::string, Listing> bySymbol; // keyed by the symbol in ASCII upper case
    const Listing *find(std::string_view symbol) const;
};

// Reads "symbol,previous_close[,last]" CSV text. Returns nothing when the file as
// a whole is unusable (no proper header); rows that cannot be read are skipped
// and each adds a line to `problems`.
std::optional<Table> parseTable(std::string_view csv, std::vector<std::string> &problems);

struct Quote
{
    Cents last = 0, open = 0, high = 0, low = 0, previousClose = 0;
    std::int64_t volume = 0;
    std::int64_t slot = 0; // ten-minute slot since the Unix epoch the trade belongs to
};

// The quote of `listing` during `slot`. Each UTC day opens at the previous close
// and then moves one step per slot; the same listing and slot always give the
// same quote, and the last trade never leaves previous close +-10 %.
Quote quoteAt(const Listing &listing, std::int64_t slot);

// The Notice element a reply may end with: one line of plain text for the
// display, cut to this many characters.
constexpr std::size_t kMaxNoticeCharacters = 120;
constexpr const char *kSampleModeNotice = "Simulated prices";
std::string unknownSymbolNotice(std::string_view symbol); // "No quote for SYMBOL"

// The QuoteData document. `quote` is null for a symbol the table does not hold.
std::string quoteXml(std::string_view symbol, const Quote *quote, std::string_view notice = {});

// A QuoteData document of StockSymbol followed by `fields` (name, text) in order,
// and by a Notice element when `notice` is not empty.
std::string quoteDataXml(std::string_view symbol,
                         const std::vector<std::pair<std::string_view, std::string>> &fields,
                         std::string_view notice = {});

// `text` without the ASCII blanks (spaces and tabs) around it.
std::string_view trimBlanks(std::string_view text);

// True for well-formed UTF-8 without control characters, i.e. text that can be
// echoed into an XML document as it is.
bool isPrintableUtf8(std::string_view text);

} // namespace quoted
