#include "app/conversions.h"

#include "app/runtimeerror.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Plain decimal numbers only: "1.5", "-3", "+7", ".5", "1e3"; not "", "abc",
// "1,5", "0x10", "inf" or "nan".
bool isPlainNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype end = text.size();
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < end && isDigit(text[i]))
            ++i;
        return i - from;
    };
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype mantissa = digits();
    if (i < end && text[i] == QLatin1Char('.')) {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == end;
}

double toRounded(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (!isPlainNumber(trimmed))
        throw RuntimeError(Errors::TypeMismatch);
    const double value = std::strtod(trimmed.toLatin1().constData(), nullptr);
    if (!std::isfinite(value))
        throw RuntimeError(Errors::Overflow);
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
