#include "protocol.h"
#include "platform.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace quoted {

namespace {

// Each of the characters XML reserves, written as its entity.
std::string xmlEscape(std::string_view s)
{
    constexpr std::string_view reserved = "&<>\"'";
    constexpr const char *entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    std::string out;
    for (char c : s) {
        const auto at = reserved.find(c);
        if (at == std::string_view::npos)
            out += c;
        else
            out += entities[at];
    }
    return out;
}

// The first `count` characters of UTF-8 `text`: never cuts inside a character.
std::string_view firstCharacters(std::string_view text, std::size_t count)
{
    std::size_t at = 0;
    for (; at < text.size() && count > 0; --count) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80)
            ++at;
    }
    return text.substr(0, at);
}

} // namespace

std::string unknownSymbolNotice(std::string_view symbol)
{
    return "No quote for " + std::string(symbol);
}

std::string escapeForLog(std::string_view text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string fixedPoint(std::int64_t units, int decimals, bool withSign)
{
    const char *sign = units < 0 ? "-" : withSign && units > 0 ? "+" : "";
    const std::int64_t scale = decimals == 4 ? 10000 : 100;
    const std::int64_t magnitude = units < 0 ? -units : units;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%0*lld", sign,
                  static_cast<long long>(magnitude / scale), decimals,
                  static_cast<long long>(magnitude % scale));
    return text;
}

std::string upperAscii(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

std::string utcText(std::int64_t unixTime, const char *format)
{
    const std::tm tm = utcCalendar(std::time_t(unixTime));
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &tm));
}

std::string_view trimBlanks(std::string_view text, std::string_view blanks)
{
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string quoteDataXml(std::string_view symbol,
                         const std::vector<std::pair<std::string_view, std::string>> &fields,
                         std::string_view notice)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<QuoteData>\n";
    const auto element = [&xml](std::string_view name, std::string_view value) {
        xml.append("  <").append(name).append(">").append(xmlEscape(value));
        xml.append("</").append(name).append(">\n");
    };
    element("StockSymbol", symbol);
    for (const auto &[name, value] : fields)
        element(name, value);
    if (!notice.empty())
        element("Notice", firstCharacters(notice, kMaxNoticeCharacters));
    return xml + "</QuoteData>\n";
}

bool isPrintableUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f)
            return false;
        const size_t more = c < 0x80 ? 0 : c < 0xc2 ? 9 : c < 0xe0 ? 1 : c < 0xf0 ? 2 : 3;
        if (more == 9 || c > 0xf4 || text.size() - i <= more)
            return false;
        std::uint32_t cp = more == 0 ? c : c & (0x3f >> more);
        for (size_t k = 1; k <= more; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        static constexpr std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < smallest[more] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe
            || cp == 0xffff)
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace quoted
