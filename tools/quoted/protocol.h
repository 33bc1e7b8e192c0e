// The quote protocol's reply as tallow-quoted writes it: the QuoteData
// document with its optional Notice line, and the checks and escaping of the
// text that goes into replies and log lines.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quoted {

// The Notice element a reply may end with: one line of plain text for the
// display, cut to this many characters.
constexpr std::size_t kMaxNoticeCharacters = 120;
constexpr const char *kSampleModeNotice = "Simulated prices";
std::string unknownSymbolNotice(std::string_view symbol); // "No quote for SYMBOL"

// A QuoteData document of StockSymbol followed by `fields` (name, text) in order,
// and by a Notice element when `notice` is not empty.
std::string quoteDataXml(std::string_view symbol,
                         const std::vector<std::pair<std::string_view, std::string>> &fields,
                         std::string_view notice = {});

// `text` made safe for one log line: every byte outside printable ASCII (C0
// and C1 controls, DEL, the Unicode line and paragraph separators, any other
// non-ASCII byte) and the backslash are written as \xNN.
std::string escapeForLog(std::string_view text);

// `units` hundredths (`decimals` 2) or ten-thousandths (`decimals` 4) written
// as a decimal number, with "-" when negative and, when `withSign`, "+" when
// positive.
std::string fixedPoint(std::int64_t units, int decimals, bool withSign);

// `text` with its ASCII letters in upper case.
std::string upperAscii(std::string_view text);

// The time `unixTime` in UTC, as strftime writes it with `format`.
std::string utcText(std::int64_t unixTime, const char *format);

// `text` without the `blanks` around it: by default ASCII spaces and tabs.
std::string_view trimBlanks(std::string_view text, std::string_view blanks = " \t");

// `text` read whole as a number by std::from_chars, which also takes the
// `options` (a base for integers); nothing when `text` holds anything else or
// the number does not fit in `Number`.
template<typename Number, typename... Options>
std::optional<Number> parseNumber(std::string_view text, Options... options)
{
    Number value{};
    const auto [end, ec]
            = std::from_chars(text.data(), text.data() + text.size(), value, options...);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// True for well-formed UTF-8 without control characters, i.e. text that can be
// echoed into an XML document as it is.
bool isPrintableUtf8(std::string_view text);

} // namespace quoted
