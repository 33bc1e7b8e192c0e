#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// Conversions of stored setting texts to the types their readers need. Each
// throws RuntimeError with "Type mismatch" for text that is not a number and
// "Overflow" for a number outside the target range.
namespace Convert {

// Decimal text with optional sign, surrounding blanks and a fractional part;
// the value is rounded to the nearest integer, a tie going to the even one.
std::int16_t toInt16(const QString &text);
std::int32_t toInt32(const QString &text);

// Colours are stored as signed 32-bit text; high-bit values name system colours.
inline std::uint32_t toColor(const QString &text)
{
    return static_cast<std::uint32_t>(toInt32(text));
}

// A stored truth value is on only for the exact, case-sensitive text "True".
inline bool isTrue(const QString &text)
{
    return text == QLatin1String("True");
}

inline QString fromBool(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// Shortest decimal text of a single-precision number: 72 -> "72", 11.5 -> "11.5".
QString fromSingle(float value);

// Checked narrowing for values that must fit a byte (a keyboard scan code).
std::uint8_t toByte(std::int64_t value);

// "hh:mm:ss ampm": 12-hour clock, two digits each, the system's AM/PM text.
QString formatTimeOfDay(const QDateTime &time);

} // namespace Convert
