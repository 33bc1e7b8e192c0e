#include "gateway.h"

#include "protocol.h"

#include <algorithm>
#include <ctime>

namespace quoted {

namespace {

constexpr std::size_t kMaxReasonText = 200; // a reason in a log line or a reply

// Provider text for a log line or a reply is redacted, then escaped, and cut
// short only then, so that no piece of a key the provider echoes survives at
// the cut.
std::string shortened(std::string text)
{
    if (text.size() > kMaxReasonText) {
        text.resize(kMaxReasonText);
        text += "...";
    }
    return text;
}

} // namespace

Gateway::Gateway(Settings settings, Fetch fetch, Clock clock, Log log)
    : mSettings(std::move(settings)), mFetch(std::move(fetch)), mClock(std::move(clock)),
      mLog(std::move(log))
{ }

Gateway::Answer Gateway::fromCache(std::string_view symbol, const Entry &entry, TimePoint now,
                                   const std::string &why) const
{
    if (entry.good && now - entry.goodAt < mSettings.maxStale)
        return served(symbol, entry, now, true);
    return {503,
            std::string("503 Service Unavailable: no recent quote from ") + mSettings.provider->name
                    + " (" + why + ")",
            0, 0};
}

std::int64_t Gateway::secondsUntilAsked(const Entry &entry, TimePoint now) const
{
    using std::chrono::seconds;
    const TimePoint next = std::max(entry.triedAt + mSettings.cache, mPausedUntil);
    return next > now ? std::chrono::ceil<seconds>(next - now).count() : 0;
}

Gateway::Answer Gateway::served(std::string_view symbol, const Entry &entry, TimePoint now,
                                bool failing) const
{
    std::string notice;
    if (entry.fields.empty()) {
        notice = unknownSymbolNotice(symbol);
    } else if (failing && now - entry.goodAt >= mSettings.cache) {
        // Older than the cache period: the display says since when, and why.
        notice = "As of " + utcText(entry.quoteTime, "%H:%M") + " UTC, " + mSettings.provider->name
                + " unreachable";
    }
    return {200, quoteDataXml(symbol, entry.fields, notice), secondsUntilAsked(entry, now),
            entry.quoteTime};
}

bool Gateway::evictOne()
{
    // The least recently used entry that no request is fetching or waiting for.
    for (auto it = mEntries.end(); it != mEntries.begin();) {
        --it;
        if (!it->second.inFlight && it->second.waiters == 0) {
            mIndex.erase(it->first);
            mEntries.erase(it);
            return true;
        }
    }
    return false;
}

Gateway::Answer Gateway::quote(std::string_view symbol)
{
    return *lookup(symbol, true);
}

std::optional<Gateway::Answer> Gateway::cached(std::string_view symbol)
{
    return lookup(symbol, false);
}

std::optional<Gateway::Answer> Gateway::lookup(std::string_view symbol, bool mayAsk)
{
    const std::string name = upperAscii(symbol);
    std::unique_lock lock(mMutex);
    const TimePoint now = mClock();
    auto found = mIndex.find(name);
    if (found == mIndex.end()) {
        if (!mayAsk)
            return std::nullopt;
        if (now < mPausedUntil)
            return fromCache(symbol, Entry{}, now, "paused by the provider's rate limit");
        if (mIndex.size() >= mSettings.maxSymbols && !evictOne())
            return fromCache(symbol, Entry{}, now, "too many symbols asked for at once");
        mEntries.emplace_front(name, Entry{});
        found = mIndex.emplace(name, mEntries.begin()).first;
    } else {
        mEntries.splice(mEntries.begin(), mEntries, found->second); // now the most recent
    }
    Entry &entry = found->second->second;

    // The reply echoes the symbol as this request wrote it, as in sample mode.
    if (entry.good && now - entry.goodAt < mSettings.cache)
        return served(symbol, entry, now, false);
    if (entry.inFlight) {
        // A slow provider request never holds up an answer the cache can give.
        if (entry.good && now - entry.goodAt < mSettings.maxStale)
            return served(symbol, entry, now, false);
        if (!mayAsk)
            return std::nullopt;
        // Wait for that request and take its result, whatever the cache period.
        // The entry stays (is not evicted) while anyone waits for it.
        const std::uint64_t fetches = entry.fetches;
        ++entry.waiters;
        mFetched.wait(lock, [&] { return entry.fetches != fetches; });
        --entry.waiters;
        if (entry.lastFailure.empty())
            return served(symbol, entry, mClock(), false);
        return fromCache(symbol, entry, mClock(), entry.lastFailure);
    }
    if (entry.tried && now - entry.triedAt < mSettings.cache)
        return fromCache(symbol, entry, now, entry.lastFailure);
    if (now < mPausedUntil)
        return fromCache(symbol, entry, now, "paused by the provider's rate limit");
    if (!mayAsk)
        return std::nullopt;

    entry.inFlight = true;
    entry.tried = true;
    entry.triedAt = now;
    lock.unlock();
    const std::string url
            = providerUrl(mSettings.provider, mSettings.baseUrl, symbol, mSettings.key);
    Outcome outcome = readProviderReply(mSettings.provider, mFetch(url));
    lock.lock();

    entry.inFlight = false;
    ++entry.fetches;
    mFetched.notify_all();
    if (outcome.kind == Outcome::Quote || outcome.kind == Outcome::Unknown) {
        entry.good = true;
        entry.fields = std::move(outcome.fields);
        entry.goodAt = now;
        entry.quoteTime = outcome.quoteTime ? outcome.quoteTime : std::int64_t(std::time(nullptr));
        entry.lastFailure.clear();
        return served(symbol, entry, mClock(), false);
    }
    entry.lastFailure
            = shortened(escapeForLog(redact(outcome.reason, mSettings.key, mSettings.provider)));
    if (outcome.kind == Outcome::RateLimited) {
        mPausedUntil = std::max(mPausedUntil, now + std::chrono::seconds(outcome.pauseSeconds));
        entry.lastFailure = "rate limited: " + entry.lastFailure;
    }
    mLog("provider " + std::string(mSettings.provider->name) + ", symbol " + escapeForLog(name)
         + ": " + entry.lastFailure);
    return fromCache(symbol, entry, mClock(), entry.lastFailure);
}

} // namespace quoted
