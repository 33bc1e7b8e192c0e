// The sample book behind tallow-quoted: reading the CSV, walking prices in
// ten-minute steps and writing their XML reply. Nothing here but
// readRegularFile() does I/O, so the tests can drive it directly.
#pragma once

#include "protocol.h"

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

// The QuoteData document. `quote` is null for a symbol the table does not hold.
std::string quoteXml(std::string_view symbol, const Quote *quote, std::string_view notice = {});

// Reads at most `limit` bytes of the regular file `path` into `out`. Devices,
// FIFOs and sockets are refused without blocking, and the file is judged by
// what was opened, so a swap after a check cannot change what is read. Returns
// an empty string or the reason it failed.
std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out);

} // namespace quoted
