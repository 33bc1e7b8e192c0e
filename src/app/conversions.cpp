#include "app/conversions.h"

#include "app/runtimeerror.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

// A plain number from_chars found too large or too small for a double: its
// first significant digit decides which. Too large overflows; too small is 0.
double outOfRange(std::string_view number)
{
    if (number.starts_with('-'))
        number.remove_prefix(1);
    const std::size_t exponentAt = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, exponentAt);
    long long exponent = 0;
    if (exponentAt != std::string_view::npos) {
        std::string_view digits = number.substr(exponentAt + 1);
        const bool negative = digits.starts_with('-');
        if (negative || digits.starts_with('+'))
            digits.remove_prefix(1);
        for (const char c : digits)
            exponent = std::min(exponent * 10 + (c - '0'), 1'000'000LL);
        if (negative)
            exponent = -exponent;
    }
    // The power of ten of the first significant digit.
    const std::size_t point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::size_t firstSignificant = whole.find_first_not_of('0');
    long long magnitude = 0;
    if (firstSignificant != std::string_view::npos) {
        magnitude = static_cast<long long>(whole.size() - firstSignificant) - 1;
    } else {
        const std::string_view fraction = mantissa.substr(point + 1);
        magnitude = -static_cast<long long>(fraction.find_first_not_of('0')) - 1;
    }
    if (magnitude + exponent >= 0)
        throw RuntimeError(Errors::Overflow);
    return 0.0;
}

double toRounded(const QString &text)
{
    // from_chars reads the C locale's form whatever locale the user runs
    // under (strtod would take "11,5" and stop at "11.5" under de_DE). It
    // takes no leading plus, and a plain number starts with a digit or a
    // point after its sign, which keeps out "inf", "nan" and a second sign.
    const QByteArray latin = text.trimmed().toLatin1();
    const char *first = latin.constData();
    const char *last = first + latin.size();
    if (first != last && *first == '+')
        ++first;
    const char *mantissa = first != last && *first == '-' ? first + 1 : first;
    const char lead = mantissa == last ? '\0' : *mantissa;
    if (!((lead >= '0' && lead <= '9') || lead == '.'))
        throw RuntimeError(Errors::TypeMismatch);
    double value = 0;
    const std::from_chars_result parsed = std::from_chars(first, last, value);
    if (parsed.ptr != last
        || (parsed.ec != std::errc() && parsed.ec != std::errc::result_out_of_range))
        throw RuntimeError(Errors::TypeMismatch);
    if (parsed.ec == std::errc::result_out_of_range)
        return outOfRange(std::string_view(first, std::size_t(last - first)));
    // nearbyint rounds half to even in the default rounding mode.
    return std::nearbyint(value);
}

template<typename T>
T toInteger(const QString &text)
{
    const double value = toRounded(text);
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        throw RuntimeError(Errors::Overflow);
    return static_cast<T>(value);
}

} // namespace

namespace Convert {

std::int16_t toInt16(const QString &text)
{
    return toInteger<std::int16_t>(text);
}

std::int32_t toInt32(const QString &text)
{
    return toInteger<std::int32_t>(text);
}

QString fromSingle(float value)
{
    // Seven significant digits is what a single-precision number holds.
    return QString::number(static_cast<double>(value), 'g', 7);
}

std::uint8_t toByte(std::int64_t value)
{
    if (value < 0 || value > 255)
        throw RuntimeError(Errors::Overflow);
    return static_cast<std::uint8_t>(value);
}

QString formatTimeOfDay(const QDateTime &time)
{
    const QTime t = time.time();
    const QLocale locale = QLocale::system();
    const int hour = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    const QLatin1Char zero('0');
    return QStringLiteral("%1:%2:%3 %4")
            .arg(hour, 2, 10, zero)
            .arg(t.minute(), 2, 10, zero)
            .arg(t.second(), 2, 10, zero)
            .arg(t.hour() < 12 ? locale.amText() : locale.pmText());
}

} // namespace Convert
