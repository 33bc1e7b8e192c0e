#pragma once

#include <QColor>
#include <QString>

#include <cstdint>

class QWidget;

// Colours are stored as the platform's 0x00BBGGRR integers. A value with the
// high bit set names a system colour by its index in the low byte.
namespace Colors {

inline constexpr std::uint32_t ButtonFace = 0x8000000F;
inline constexpr std::uint32_t ButtonText = 0x80000012;
inline constexpr std::uint32_t White = 0x00FFFFFF;
inline constexpr std::uint32_t Black = 0x00000000;

// A system colour becomes the current palette's colour for the nearest role.
QColor toQColor(std::uint32_t value);
std::uint32_t fromQColor(const QColor &color);

// The stored form: the decimal text of the value as a signed 32-bit integer,
// so a system colour reads back through Convert::toColor ("-2147483633").
QString toText(std::uint32_t value);

// A widget's background as the classic BackColor property.
void setBackColor(QWidget *widget, std::uint32_t value);
void setForeColor(QWidget *widget, std::uint32_t value);
std::uint32_t backColor(const QWidget *widget);

} // namespace Colors
