// tallow-quoted as a gateway to a market-data provider: a cache that spends at
// most one provider request per symbol per period. The network and the clock
// are passed in, so the tests drive all of it without either.
#pragma once

#include "providers.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace quoted {

class Gateway
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Fetch = std::function<ProviderReply(const std::string &url)>;
    using Log = std::function<void(const std::string &)>;

    struct Settings
    {
        Provider provider = nullptr;
        std::string baseUrl;
        std::string key;
        std::chrono::seconds cache{60};
        std::chrono::seconds maxStale{900};
        std::size_t maxSymbols = 10000; // symbols remembered at once
    };

    Gateway(Settings settings, Fetch fetch, Clock clock, Log log);

    struct Answer
    {
        int status = 200; // 200 with a QuoteData document, or 503 with a plain-text reason
        std::string body;
        std::int64_t maxAge = 0; // seconds until the provider would be asked again
        std::int64_t quoteTime = 0; // Unix time of the quote, 0 when unknown
    };
    // The answer for `symbol`, asking the provider (or waiting for the request
    // that already does) when the cache cannot answer.
    Answer quote(std::string_view symbol);
    // The answer, when the cache can give it without asking or waiting.
    std::optional<Answer> cached(std::string_view symbol);

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
        int waiters = 0; // requests waiting for the one in flight; the entry stays while any do
        std::string lastFailure;
    };
    using Entries = std::list<std::pair<std::string, Entry>>; // most recently used first

    Answer fromCache(std::string_view symbol, const Entry &entry, TimePoint now,
                     const std::string &why) const;
    // The cached quote of `entry`; `failing` when it stands in for a failed request.
    Answer served(std::string_view symbol, const Entry &entry, TimePoint now, bool failing) const;
    std::optional<Answer> lookup(std::string_view symbol, bool mayAsk);
    // Makes room for one more symbol; false when every entry is in use.
    bool evictOne();
    std::int64_t secondsUntilAsked(const Entry &entry, TimePoint now) const;

    Settings mSettings;
    Fetch mFetch;
    Clock mClock;
    Log mLog;
    std::mutex mMutex;
    std::condition_variable mFetched;
    Entries mEntries;
    std::unordered_map<std::string, Entries::iterator> mIndex; // by symbol in ASCII upper case
    TimePoint mPausedUntil{};
};

} // namespace quoted
