// The market-data providers tallow-quoted can take quotes from: one row per
// provider (its name, address, query and the parameter carrying the key) and
// one reader per reply format, turning the provider's JSON into the fields of
// a QuoteData document. Nothing here does I/O.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quoted {

// The elements of a QuoteData document after StockSymbol, in order.
using QuoteFields = std::vector<std::pair<std::string_view, std::string>>;

struct Outcome
{
    enum Kind { Quote, Unknown, RateLimited, Failed } kind = Failed;
    QuoteFields fields; // for Quote; empty for Unknown
    std::string reason; // for RateLimited and Failed; may hold provider text
    std::int64_t pauseSeconds = 0; // for RateLimited
    std::int64_t quoteTime = 0; // for Quote: Unix time of the trade, 0 when not given
};

struct ProviderRow
{
    const char *name; // as --source names it
    const char *defaultUrl; // the base URL without --source-url
    const char *query; // after the base URL; {symbol} and {key} are filled in
    const char *keyParameter; // the query parameter that carries the key
    Outcome (*read)(long status, const nlohmann::json &reply);
};
using Provider = const ProviderRow *;

// Every provider, in the order --help lists them.
const std::vector<ProviderRow> &providers();
// The provider named `name`, or null.
Provider providerNamed(std::string_view name);

// The provider's quote URL for `symbol` (sent in ASCII upper case, percent-encoded).
std::string providerUrl(Provider provider, std::string_view base, std::string_view symbol,
                        std::string_view key);

// Replaces every occurrence of the key (in any ASCII case, also URL- or
// JSON-escaped), and any value of the provider's key parameter, so that text
// from the provider or from the HTTP fetch can be logged.
std::string redact(std::string_view text, std::string_view key, Provider provider);

struct ProviderReply
{
    long status = 0; // HTTP status; 0 when no reply came
    std::string body;
    std::string retryAfter; // the Retry-After header in seconds, when given
    std::string failure; // set when the transfer itself failed (reset, timeout, too large)
};

// Reads the provider's reply to a quote request.
Outcome readProviderReply(Provider provider, const ProviderReply &reply);

} // namespace quoted
