#include "gateway.h"

#include "quotebook.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quoted {

namespace {

using nlohmann::json;
using Fields = QuoteFields;

constexpr std::int64_t kDefaultPauseSeconds = 60;
constexpr std::size_t kMaxEntries = 10000; // symbols remembered at once
constexpr std::size_t kMaxReasonText = 200; // a reason in a log line or a reply
// Prices and volumes beyond this are garbage, and would overflow the integer
// formatting of decimal().
constexpr double kMaxFigure = 1e12;

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

bool containsNoCase(std::string_view text, std::string_view word)
{
    return upperAscii(text).find(upperAscii(word)) != std::string::npos;
}

// Provider text for a log line or a reply: one line, printable. It is cut
// short only after the key has been redacted from it (shortened()), so that no
// piece of a key the provider echoes survives at the cut.
std::string quotedText(std::string_view text)
{
    std::string out;
    for (char c : text)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    return out;
}

std::string shortened(std::string text)
{
    if (text.size() > kMaxReasonText) {
        text.resize(kMaxReasonText);
        text += "...";
    }
    return text;
}

// A number from a JSON number or a numeric string ("-0.6553%" allowed).
std::optional<double> number(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end())
        return std::nullopt;
    double value = 0;
    if (it->is_number()) {
        value = it->get<double>();
    } else if (it->is_string()) {
        std::string_view s = it->get_ref<const std::string &>();
        if (!s.empty() && s.back() == '%')
            s.remove_suffix(1);
        if (!s.empty() && s.front() == '+')
            s.remove_prefix(1);
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size())
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(value) || std::abs(value) > kMaxFigure)
        return std::nullopt;
    return value;
}

std::string text(const json &object, const char *name)
{
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// `value` rounded half away from zero to `decimals` (2 or 4) places. The value
// is first taken to millionths, so 1.005 rounds as written rather than as the
// double just below it.
std::string decimal(double value, int decimals, bool withSign)
{
    const std::int64_t micro = std::llround(std::abs(value) * 1e6);
    const std::int64_t step = decimals == 4 ? 100 : 10000;
    const std::int64_t units = (micro + step / 2) / step;
    const std::int64_t scale = decimals == 4 ? 10000 : 100;
    const char *sign = units == 0 ? "" : value < 0 ? "-" : withSign ? "+" : "";
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%0*lld", sign, static_cast<long long>(units / scale),
                  decimals, static_cast<long long>(units % scale));
    return text;
}

int decimalsFor(double last)
{
    return std::abs(last) < 1.0 ? 4 : 2;
}

std::string utcStamp(std::int64_t unixTime)
{
    const std::time_t when = std::time_t(unixTime);
    std::tm tm{};
    gmtime_r(&when, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    return stamp;
}

// The provider's figures of one quote, before formatting.
struct Figures
{
    double last = 0;
    std::optional<double> change, percent, open, high, low, previousClose, volume;
    std::string dateTime;
    std::int64_t unixTime = 0; // when the provider gives the trade's time
};

Fields format(const Figures &f)
{
    const int places = decimalsFor(f.last);
    std::optional<double> change = f.change;
    if (!change && f.previousClose)
        change = f.last - *f.previousClose;
    std::optional<double> percent = f.percent;
    if (!percent && change && f.previousClose && *f.previousClose != 0) {
        // A tiny previous close makes the quotient garbage past any figure.
        const double computed = *change / *f.previousClose * 100;
        if (std::abs(computed) <= kMaxFigure)
            percent = computed;
    }

    Fields fields{{"LastTradeAmount", decimal(f.last, places, false)}};
    if (!f.dateTime.empty())
        fields.emplace_back("LastTradeDateTime", f.dateTime);
    if (change)
        fields.emplace_back("StockChange", decimal(*change, places, true));
    if (percent) {
        // As in sample mode: a change too small to show is "+0.00%" or "-0.00%".
        std::string shown = decimal(*percent, 2, true);
        if (shown == "0.00" && change && decimal(*change, places, false) != "0.00")
            shown = (*change > 0 ? "+" : "-") + shown;
        fields.emplace_back("ChangePercent", shown + "%");
    }
    const std::pair<const char *, std::optional<double>> amounts[] = {{"OpenAmount", f.open},
                                                                      {"DayHigh", f.high},
                                                                      {"DayLow", f.low},
                                                                      {"PrevCls", f.previousClose}};
    for (const auto &[name, value] : amounts)
        if (value)
            fields.emplace_back(name, decimal(*value, decimalsFor(*value), false));
    if (f.volume && *f.volume >= 0)
        fields.emplace_back("StockVolume", std::to_string(std::llround(*f.volume)));
    return fields;
}

std::int64_t retryAfterSeconds(const std::string &value)
{
    std::int64_t seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (!value.empty() && ec == std::errc() && end == value.data() + value.size())
        return std::clamp<std::int64_t>(seconds, 1, 86400);
    const std::time_t at = curl_getdate(value.c_str(), nullptr); // an HTTP date
    if (at > 0)
        return std::clamp<std::int64_t>(at - std::time(nullptr), 1, 86400);
    return kDefaultPauseSeconds;
}

Outcome failed(std::string reason)
{
    return {Outcome::Failed, {}, std::move(reason), 0};
}

Outcome rateLimited(std::string reason, std::int64_t seconds)
{
    return {Outcome::RateLimited, {}, std::move(reason), seconds};
}

Outcome quoteOf(const Figures &figures)
{
    return {Outcome::Quote, format(figures), {}, 0, figures.unixTime};
}

Outcome finnhub(long status, const json &doc)
{
    if (const std::string error = text(doc, "error"); !error.empty())
        return failed("HTTP " + std::to_string(status) + ": " + quotedText(error));
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    const auto last = number(doc, "c");
    if (!last)
        return failed("reply holds no price");
    if (*last == 0) // how finnhub answers a symbol it does not know
        return {Outcome::Unknown, {}, {}, 0};
    Figures f{*last,
              number(doc, "d"),
              number(doc, "dp"),
              number(doc, "o"),
              number(doc, "h"),
              number(doc, "l"),
              number(doc, "pc"),
              std::nullopt,
              {}};
    if (const auto t = number(doc, "t"); t && *t > 0) {
        f.unixTime = std::int64_t(*t);
        f.dateTime = utcStamp(f.unixTime);
    }
    return quoteOf(f);
}

Outcome alphaVantage(long status, const json &doc)
{
    // Errors and limits come with HTTP 200, as a top-level message and no quote.
    if (const std::string error = text(doc, "Error Message"); !error.empty())
        return failed(quotedText(error));
    for (const char *name : {"Note", "Information"}) {
        const std::string note = text(doc, name);
        if (!note.empty() && (std::string_view(name) == "Note" || containsNoCase(note, "limit")))
            return rateLimited(quotedText(note), kDefaultPauseSeconds);
        if (!note.empty())
            return failed(quotedText(note));
    }
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    const auto it = doc.find("Global Quote");
    if (it == doc.end() || !it->is_object())
        return failed("reply holds no quote");
    if (it->empty())
        return {Outcome::Unknown, {}, {}, 0};
    const json &q = *it;
    const auto last = number(q, "05. price");
    if (!last)
        return failed("reply holds no price");
    Figures f{*last,
              number(q, "09. change"),
              number(q, "10. change percent"),
              number(q, "02. open"),
              number(q, "03. high"),
              number(q, "04. low"),
              number(q, "08. previous close"),
              number(q, "06. volume"),
              {}};
    const std::string day = text(q, "07. latest trading day"); // a date only
    if (day.size() == 10 && isPrintableUtf8(day))
        f.dateTime = day + "T00:00:00";
    return quoteOf(f);
}

Outcome twelveData(long status, const json &doc)
{
    if (text(doc, "status") == "error" || doc.contains("code")) {
        const long code = long(number(doc, "code").value_or(double(status)));
        const std::string message = quotedText(text(doc, "message"));
        if (code == 429)
            return rateLimited(message, kDefaultPauseSeconds);
        if (code == 404 || code == 400) // an unknown or malformed symbol
            return {Outcome::Unknown, {}, {}, 0};
        return failed("code " + std::to_string(code) + ": " + message);
    }
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    const auto last = number(doc, "close");
    if (!last)
        return failed("reply holds no price");
    Figures f{*last,
              number(doc, "change"),
              number(doc, "percent_change"),
              number(doc, "open"),
              number(doc, "high"),
              number(doc, "low"),
              number(doc, "previous_close"),
              number(doc, "volume"),
              {}};
    if (const auto t = number(doc, "timestamp"); t && *t > 0) {
        f.unixTime = std::int64_t(*t);
        f.dateTime = utcStamp(f.unixTime);
    }
    return quoteOf(f);
}

std::string urlEscape(std::string_view s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

std::optional<Provider> providerNamed(std::string_view name)
{
    for (const Provider p : {Provider::Finnhub, Provider::AlphaVantage, Provider::TwelveData})
        if (name == providerName(p))
            return p;
    return std::nullopt;
}

const char *providerName(Provider provider)
{
    switch (provider) {
    case Provider::Finnhub:
        return "finnhub";
    case Provider::AlphaVantage:
        return "alphavantage";
    case Provider::TwelveData:
        return "twelvedata";
    }
    return "";
}

const char *defaultProviderUrl(Provider provider)
{
    switch (provider) {
    case Provider::Finnhub:
        return "https://finnhub.io/api/v1";
    case Provider::AlphaVantage:
        return "https://www.alphavantage.co";
    case Provider::TwelveData:
        return "https://api.twelvedata.com";
    }
    return "";
}

std::string providerUrl(Provider provider, std::string_view base, std::string_view symbol,
                        std::string_view key)
{
    const std::string s = urlEscape(upperAscii(symbol)), k = urlEscape(key);
    std::string url(base);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    switch (provider) {
    case Provider::Finnhub:
        return url + "/quote?symbol=" + s + "&token=" + k;
    case Provider::AlphaVantage:
        return url + "/query?function=GLOBAL_QUOTE&symbol=" + s + "&apikey=" + k;
    case Provider::TwelveData:
        return url + "/quote?symbol=" + s + "&apikey=" + k;
    }
    return url;
}

std::string redact(std::string_view text, std::string_view key)
{
    std::string out(text);
    for (const std::string &secret : {std::string(key), urlEscape(key)}) {
        if (secret.empty())
            continue;
        for (size_t at = 0; (at = out.find(secret, at)) != std::string::npos; at += 5)
            out.replace(at, secret.size(), "[key]");
    }
    // A query parameter that carries a key, whatever its value.
    for (const char *name : {"token=", "apikey="}) {
        for (size_t at = 0; (at = out.find(name, at)) != std::string::npos;) {
            at += std::strlen(name);
            const size_t end = out.find_first_of("&# \"'", at);
            out.replace(at, (end == std::string::npos ? out.size() : end) - at, "[key]");
        }
    }
    return out;
}

Outcome readProviderReply(Provider provider, const ProviderReply &reply)
{
    if (!reply.failure.empty())
        return failed(reply.failure);
    if (reply.status == 429)
        return rateLimited("HTTP 429", retryAfterSeconds(reply.retryAfter));
    if (reply.body.empty())
        return failed("HTTP " + std::to_string(reply.status) + " with an empty reply");
    const json doc = json::parse(reply.body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return failed("HTTP " + std::to_string(reply.status) + " with a reply that is not JSON");
    switch (provider) {
    case Provider::Finnhub:
        return finnhub(reply.status, doc);
    case Provider::AlphaVantage:
        return alphaVantage(reply.status, doc);
    case Provider::TwelveData:
        return twelveData(reply.status, doc);
    }
    return failed("unknown provider");
}

namespace {

struct Transfer
{
    ProviderReply *reply;
    bool tooLarge = false;
};

size_t takeBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    if (t->reply->body.size() + size * count > kMaxProviderReply) {
        t->tooLarge = true;
        return 0; // ends the transfer
    }
    t->reply->body.append(data, size * count);
    return size * count;
}

size_t takeHeader(char *data, size_t size, size_t count, void *user)
{
    const std::string_view line(data, size * count);
    constexpr std::string_view name = "retry-after:";
    if (line.size() > name.size() && line.size() < 128
        && upperAscii(line.substr(0, name.size())) == upperAscii(name)) {
        std::string value(line.substr(name.size()));
        const auto first = value.find_first_not_of(" \t");
        const auto last = value.find_last_not_of(" \t\r\n");
        static_cast<Transfer *>(user)->reply->retryAfter
                = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }
    return size * count;
}

} // namespace

ProviderReply fetchOverHttp(const std::string &url, long timeoutMs)
{
    ProviderReply reply;
    Transfer transfer{&reply};
    CURL *curl = curl_easy_init();
    if (!curl) {
        reply.failure = "cannot start a request";
        return reply;
    }
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // timeouts without signals: many threads fetch
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, ""); // decoded bytes still count to the limit
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "tallow-quoted");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxProviderReply));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, takeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, takeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    const CURLcode result = curl_easy_perform(curl);
    if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
        reply.failure = "reply over 1 MiB refused";
    else if (result != CURLE_OK)
        reply.failure = error[0] ? error : curl_easy_strerror(result);
    else
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    if (!reply.failure.empty())
        reply.body.clear();
    return reply;
}

Gateway::Gateway(Settings settings, Fetch fetch, Clock clock, Log log)
    : m_settings(std::move(settings)), m_fetch(std::move(fetch)), m_clock(std::move(clock)),
      m_log(std::move(log))
{ }

Gateway::Answer Gateway::fromCache(std::string_view symbol, const Entry &entry, TimePoint now,
                                   const std::string &why) const
{
    if (entry.good && now - entry.goodAt < m_settings.maxStale)
        return served(symbol, entry, now, true);
    return {503,
            std::string("503 Service Unavailable: no recent quote from ")
                    + providerName(m_settings.provider) + " (" + why + ")"};
}

Gateway::Answer Gateway::served(std::string_view symbol, const Entry &entry, TimePoint now,
                                bool failing) const
{
    std::string notice;
    if (entry.fields.empty()) {
        notice = unknownSymbolNotice(symbol);
    } else if (failing && now - entry.goodAt >= m_settings.cache) {
        // Older than the cache period: the display says since when, and why.
        const std::time_t when = std::time_t(entry.quoteTime);
        std::tm tm{};
        gmtime_r(&when, &tm);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%H:%M", &tm);
        notice = std::string("As of ") + stamp + " UTC, " + providerName(m_settings.provider)
                + " unreachable";
    }
    return {200, quoteDataXml(symbol, entry.fields, notice)};
}

void Gateway::forgetOldEntries(TimePoint now)
{
    std::erase_if(m_entries, [&](const auto &item) {
        const Entry &e = item.second;
        return !e.inFlight && now - e.triedAt >= m_settings.cache
                && (!e.good || now - e.goodAt >= m_settings.maxStale);
    });
}

Gateway::Answer Gateway::quote(std::string_view symbol)
{
    const std::string name = upperAscii(symbol);
    std::unique_lock lock(m_mutex);
    if (m_entries.size() >= kMaxEntries && !m_entries.count(name))
        forgetOldEntries(m_clock());
    Entry &entry = m_entries[name];
    const TimePoint now = m_clock();
    // The reply echoes the symbol as this request wrote it, as in sample mode.
    if (entry.good && now - entry.goodAt < m_settings.cache)
        return served(symbol, entry, now, false);
    if (entry.inFlight) {
        // A slow provider request never holds up an answer the cache can give.
        if (entry.good && now - entry.goodAt < m_settings.maxStale)
            return served(symbol, entry, now, false);
        // Wait for that request and take its result, whatever the cache period.
        const std::uint64_t fetches = entry.fetches;
        m_fetched.wait(lock, [&] { return entry.fetches != fetches; });
        if (entry.lastFailure.empty())
            return served(symbol, entry, now, false);
        return fromCache(symbol, entry, m_clock(), entry.lastFailure);
    }
    if (entry.tried && now - entry.triedAt < m_settings.cache)
        return fromCache(symbol, entry, now, entry.lastFailure);
    if (now < m_pausedUntil)
        return fromCache(symbol, entry, now, "paused by the provider's rate limit");

    entry.inFlight = true;
    entry.tried = true;
    entry.triedAt = now;
    lock.unlock();
    const std::string url
            = providerUrl(m_settings.provider, m_settings.baseUrl, symbol, m_settings.key);
    Outcome outcome = readProviderReply(m_settings.provider, m_fetch(url));
    lock.lock();

    entry.inFlight = false;
    ++entry.fetches;
    m_fetched.notify_all();
    if (outcome.kind == Outcome::Quote || outcome.kind == Outcome::Unknown) {
        entry.good = true;
        entry.fields = std::move(outcome.fields);
        entry.goodAt = now;
        entry.quoteTime = outcome.quoteTime ? outcome.quoteTime : std::int64_t(std::time(nullptr));
        entry.lastFailure.clear();
        return served(symbol, entry, now, false);
    }
    entry.lastFailure = shortened(redact(outcome.reason, m_settings.key));
    if (outcome.kind == Outcome::RateLimited) {
        m_pausedUntil = std::max(m_pausedUntil, now + std::chrono::seconds(outcome.pauseSeconds));
        entry.lastFailure = "rate limited: " + entry.lastFailure;
    }
    m_log("provider " + std::string(providerName(m_settings.provider)) + ", symbol " + name + ": "
          + entry.lastFailure);
    return fromCache(symbol, entry, m_clock(), entry.lastFailure);
}

std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::strerror(errno);
    struct stat st = {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        problem = "not a regular file";
    char buffer[65536];
    while (problem.empty() && out.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit + 1 - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            problem = std::strerror(errno);
        if (n <= 0)
            break;
        out.append(buffer, size_t(n));
    }
    ::close(fd);
    if (problem.empty() && out.size() > limit)
        problem = "larger than " + std::to_string(limit >> 20) + " MiB";
    if (!problem.empty())
        out.clear();
    return problem;
}

} // namespace quoted
