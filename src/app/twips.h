#pragma once

#include <QRect>

#include <cmath>

// Window and control geometry is designed in twips: 15 twips make one pixel
// at the design resolution. Qt's device-independent pixels carry it to
// high-DPI screens.
inline constexpr int TwipsPerPixel = 15;

inline int twips(double value)
{
    return static_cast<int>(std::lround(value / TwipsPerPixel));
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}
