#include "providers.h"

#include "protocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace quoted {

namespace {

using nlohmann::json;

constexpr std::int64_t kDefaultPauseSeconds = 60;
constexpr std::int64_t kMaxPauseSeconds = 3600; // however long a provider asks us to wait
constexpr std::int64_t kLastUnixTimeOfYear9999 = 253402300799;
// Prices and volumes beyond this are garbage, and would overflow the integer
// formatting of decimal().
constexpr double kMaxFigure = 1e12;

bool containsNoCase(std::string_view text, std::string_view word)
{
    return upperAscii(text).find(upperAscii(word)) != std::string::npos;
}

// A number from a JSON number or a numeric string ("-0.6553%" allowed).
std::optional<double> number(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end())
        return std::nullopt;
    std::optional<double> value;
    if (it->is_number()) {
        value = it->get<double>();
    } else if (it->is_string()) {
        std::string_view s = it->get_ref<const std::string &>();
        if (!s.empty() && s.back() == '%')
            s.remove_suffix(1);
        if (!s.empty() && s.front() == '+')
            s.remove_prefix(1);
        value = parseNumber<double>(s);
    }
    if (!value || !std::isfinite(*value) || std::abs(*value) > kMaxFigure)
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
    return fixedPoint(value < 0 ? -units : units, decimals, withSign);
}

int decimalsFor(double last)
{
    return std::abs(last) < 1.0 ? 4 : 2;
}

// The provider's figures of one quote, before formatting.
struct Figures
{
    std::optional<double> last, change, percent, open, high, low, previousClose, volume;
    std::optional<double> unixTime; // when the provider gives the trade's time
    std::string dateTime; // when it gives the trade's day only
};

// The fields of a quote whose price is known.
QuoteFields format(const Figures &f)
{
    const double last = *f.last;
    const int places = decimalsFor(last);
    std::optional<double> change = f.change;
    if (!change && f.previousClose)
        change = last - *f.previousClose;
    std::optional<double> percent = f.percent;
    if (!percent && change && f.previousClose && *f.previousClose != 0) {
        // A tiny previous close makes the quotient garbage past any figure.
        const double computed = *change / *f.previousClose * 100;
        if (std::abs(computed) <= kMaxFigure)
            percent = computed;
    }

    QuoteFields fields{{"LastTradeAmount", decimal(last, places, false)}};
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
    if (const auto seconds = parseNumber<std::int64_t>(value))
        return std::clamp<std::int64_t>(*seconds, 1, kMaxPauseSeconds);
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

// A reply whose figures cannot be a quote is unusable as a whole, rather than
// shown as a nonsense price or change.
Outcome quoteOf(Figures figures)
{
    if (!figures.last)
        return failed("reply holds no price");
    if (!(*figures.last > 0))
        return failed("implausible price " + std::to_string(*figures.last));
    if (figures.previousClose && *figures.previousClose < 0.0001)
        return failed("implausible previous close " + std::to_string(*figures.previousClose));
    const bool timed = figures.unixTime > 0.0;
    const std::int64_t unixTime = timed ? std::int64_t(*figures.unixTime) : 0;
    if (unixTime > kLastUnixTimeOfYear9999)
        return failed("implausible quote time " + std::to_string(unixTime));
    if (timed)
        figures.dateTime = utcText(unixTime, "%Y-%m-%dT%H:%M:%S");
    return {Outcome::Quote, format(figures), {}, 0, unixTime};
}

Outcome finnhub(long status, const json &doc)
{
    if (const std::string error = text(doc, "error"); !error.empty())
        return failed("HTTP " + std::to_string(status) + ": " + error);
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    if (number(doc, "c") == 0.0) // how finnhub answers a symbol it does not know
        return {Outcome::Unknown, {}, {}, 0};
    return quoteOf({number(doc, "c"), number(doc, "d"), number(doc, "dp"), number(doc, "o"),
                    number(doc, "h"), number(doc, "l"), number(doc, "pc"), std::nullopt,
                    number(doc, "t"), std::string()});
}

Outcome alphaVantage(long status, const json &doc)
{
    // Errors and limits come with HTTP 200, as a top-level message and no quote.
    if (const std::string error = text(doc, "Error Message"); !error.empty())
        return failed(error);
    for (const char *name : {"Note", "Information"}) {
        const std::string note = text(doc, name);
        if (!note.empty() && (std::string_view(name) == "Note" || containsNoCase(note, "limit")))
            return rateLimited(note, kDefaultPauseSeconds);
        if (!note.empty())
            return failed(note);
    }
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    const auto it = doc.find("Global Quote");
    if (it == doc.end() || !it->is_object())
        return failed("reply holds no quote");
    if (it->empty())
        return {Outcome::Unknown, {}, {}, 0};
    const json &q = *it;
    const std::string day = text(q, "07. latest trading day"); // a date only
    return quoteOf({number(q, "05. price"), number(q, "09. change"),
                    number(q, "10. change percent"), number(q, "02. open"), number(q, "03. high"),
                    number(q, "04. low"), number(q, "08. previous close"), number(q, "06. volume"),
                    std::nullopt,
                    day.size() == 10 && isPrintableUtf8(day) ? day + "T00:00:00" : std::string()});
}

Outcome twelveData(long status, const json &doc)
{
    if (text(doc, "status") == "error" || doc.contains("code")) {
        const long code = long(number(doc, "code").value_or(double(status)));
        const std::string message = text(doc, "message");
        if (code == 429)
            return rateLimited(message, kDefaultPauseSeconds);
        if (code == 404 || code == 400) // an unknown or malformed symbol
            return {Outcome::Unknown, {}, {}, 0};
        return failed("code " + std::to_string(code) + ": " + message);
    }
    if (status != 200)
        return failed("HTTP " + std::to_string(status));
    return quoteOf({number(doc, "close"), number(doc, "change"), number(doc, "percent_change"),
                    number(doc, "open"), number(doc, "high"), number(doc, "low"),
                    number(doc, "previous_close"), number(doc, "volume"), number(doc, "timestamp"),
                    std::string()});
}

// `s` as a JSON string writes it, without the quotes.
std::string jsonEscape(std::string_view s, bool asciiOnly)
{
    const std::string quoted
            = json(std::string(s)).dump(-1, ' ', asciiOnly, json::error_handler_t::replace);
    return quoted.substr(1, quoted.size() - 2);
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

const std::vector<ProviderRow> &providers()
{
    static const std::vector<ProviderRow> rows = {
            {"finnhub", "https://finnhub.io/api/v1", "/quote?symbol={symbol}&token={key}", "token",
             finnhub},
            {"alphavantage", "https://www.alphavantage.co",
             "/query?function=GLOBAL_QUOTE&symbol={symbol}&apikey={key}", "apikey", alphaVantage},
            {"twelvedata", "https://api.twelvedata.com", "/quote?symbol={symbol}&apikey={key}",
             "apikey", twelveData},
    };
    return rows;
}

Provider providerNamed(std::string_view name)
{
    for (const ProviderRow &row : providers())
        if (name == row.name)
            return &row;
    return nullptr;
}

std::string providerUrl(Provider provider, std::string_view base, std::string_view symbol,
                        std::string_view key)
{
    std::string url(base);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    const std::string_view query = provider->query;
    for (size_t at = 0; at < query.size();) {
        const size_t open = query.find('{', at);
        url += query.substr(at, open - at);
        if (open == std::string_view::npos)
            break;
        const size_t close = query.find('}', open);
        url += urlEscape(query.substr(open, close - open + 1) == "{symbol}" ? upperAscii(symbol)
                                                                            : std::string(key));
        at = close + 1;
    }
    return url;
}

std::string redact(std::string_view text, std::string_view key, Provider provider)
{
    std::string out(text);
    // The key as written, in a URL and in a JSON string; found in any ASCII case.
    for (const std::string &secret :
         {std::string(key), urlEscape(key), jsonEscape(key, false), jsonEscape(key, true)}) {
        if (secret.empty())
            continue;
        const std::string wanted = upperAscii(secret);
        for (size_t at = 0; (at = upperAscii(out).find(wanted, at)) != std::string::npos; at += 5)
            out.replace(at, secret.size(), "[key]");
    }
    // The parameter that carries a key, whatever its value.
    const std::string name = upperAscii(std::string(provider->keyParameter) + "=");
    for (size_t at = 0; (at = upperAscii(out).find(name, at)) != std::string::npos;) {
        at += name.size();
        const size_t end = out.find_first_of("&# \"'", at);
        out.replace(at, (end == std::string::npos ? out.size() : end) - at, "[key]");
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
    return provider->read(reply.status, doc);
}

} // namespace quoted
