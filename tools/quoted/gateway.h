// tallow-quoted as a gateway to a market-data provider: building the provider's
// request, reading its JSON reply into a QuoteData document, and a cache that
// spends at most one provider request per symbol per period. The network and
// the clock are passed in, so the tests drive all of it without either.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quoted {

enum class Provider { Finnhub, AlphaVantage, TwelveData };

std::optional<Provider> providerNamed(std::string_view name);
const char *providerName(Provider provider);
const char *defaultProviderUrl(Provider provider);

// The provider's quote URL for `symbol` (sent in ASCII upper case, percent-encoded).
std::string providerUrl(Provider provider, std::string_view base, std::string_view symbol,
                        std::string_view key);

// Replaces every occurrence of the key, and any value of a token/apikey query
// parameter, so that text from the provider or from libcurl can be logged.
std::string redact(std::string_view text, std::string_view key);

struct ProviderReply
{
    long status = 0; // HTTP status; 0 when no reply came
    std::string body;
    std::string retryAfter; // the Retry-After header, when given
    std::string failure; // set when the transfer itself failed (reset, timeout, too large)
};

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

// Reads the provider's reply to a quote request.
Outcome readProviderReply(Provider provider, const ProviderReply &reply);

// One provider request over libcurl: HTTPS with certificate verification, at
// most `timeoutMs`, replies over kMaxProviderReply refused.
constexpr std::size_t kMaxProviderReply = 1 << 20;
ProviderReply fetchOverHttp(const std::string &url, long timeoutMs);

class Gateway
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Fetch = std::function<ProviderReply(const std::string &url)>;
    using Log = std::function<void(const std::string &)>;

    struct Settings
    {
        Provider provider = Provider::Finnhub;
        std::string baseUrl;
        std::string key;
        std::chrono::seconds cache{60};
        std::chrono::seconds maxStale{900};
    };

    Gateway(Settings settings, Fetch fetch, Clock clock, Log log);

    struct Answer
    {
        int status = 200; // 200 with a QuoteData document, or 503 with a plain-text reason
        std::string body;
    };
    Answer quote(std::string_view symbol);

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Entry
    {
        bool good = false; // a quote (or word that the symbol is unknown) has come
        QuoteFields fields; // the last good one
        TimePoint goodAt{}; // when it was fetched
        std::int64_t quoteTime = 0; // Unix time of the last good quote (its trade or its fetch)
        TimePoint triedAt{}; // when the provider was last asked
        bool tried = false;
        bool inFlight = false;
        std::uint64_t fetches = 0; // provider requests completed, so waiters see theirs end
        std::string lastFailure;
    };

    Answer fromCache(std::string_view symbol, const Entry &entry, TimePoint now,
                     const std::string &why) const;
    // The cached quote of `entry`; `failing` when it stands in for a failed request.
    Answer served(std::string_view symbol, const Entry &entry, TimePoint now, bool failing) const;
    void forgetOldEntries(TimePoint now);

    Settings m_settings;
    Fetch m_fetch;
    Clock m_clock;
    Log m_log;
    std::mutex m_mutex;
    std::condition_variable m_fetched;
    std::map<std::string, Entry> m_entries; // keyed by the symbol in ASCII upper case
    TimePoint m_pausedUntil{};
};

// Reads at most `limit` bytes of the regular file `path` into `out`. Devices,
// FIFOs and sockets are refused without blocking, and the file is judged by
// what was opened, so a swap after a check cannot change what is read. Returns
// an empty string or the reason it failed.
std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out);

} // namespace quoted
