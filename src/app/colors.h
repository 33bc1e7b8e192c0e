#pragma once

#include <QColor>

#include <cstdint>

class QWidget;

// Colours are stored as the platform's 0x00BBGGRR integers. A value with the
// high bit set names a system colour by its index in the low byte.
namespace Colors {

inline constexpr std::uint32_t ButtonFace = 0x8000000F;
inline constexpr std::uint32_t ButtonText = 0x80000012;
inline constexpr std::uint32_t White = 0x00FFFFFF;
inline constexpr std::uint32_t Black = 0x00000000;

QColor toQColor(std::uint32_t value);
std::uint32_t fromQColor(const QColor &color);

// A widget's background as the classic BackColor property.
void setBackColor(QWidget *widget, std::uint32_t value);
void setForeColor(QWidget *widget, std::uint32_t value);
std::uint32_t backColor(const QWidget *widget);

} // namespace Colors
