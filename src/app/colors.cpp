#include "app/colors.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace {

// Classic system colour indexes mapped to the nearest palette role.
QColor systemColor(unsigned index)
{
    const QPalette palette = QApplication::palette();
    switch (index) {
    case 0: // scroll bar
    case 4: // menu
    case 10: // active border
    case 11: // inactive border
    case 15: // button face
    case 30: // menu bar
        return palette.color(QPalette::Button);
    case 1: // desktop
    case 2: // active caption
    case 13: // highlight
    case 27: // active caption gradient
    case 29: // menu highlight
        return palette.color(QPalette::Highlight);
    case 3: // inactive caption
    case 28: // inactive caption gradient
        return palette.color(QPalette::Inactive, QPalette::Highlight);
    case 5: // window background
        return palette.color(QPalette::Base);
    case 6: // window frame
    case 21: // 3D dark shadow
        return palette.color(QPalette::Shadow);
    case 7: // menu text
    case 8: // window text
        return palette.color(QPalette::WindowText);
    case 9: // caption text
    case 14: // highlight text
        return palette.color(QPalette::HighlightedText);
    case 12: // application workspace
        return palette.color(QPalette::Dark);
    case 16: // button shadow
        return palette.color(QPalette::Mid);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::ButtonText);
    case 19: // inactive caption text
        return palette.color(QPalette::Inactive, QPalette::HighlightedText);
    case 20: // button highlight
        return palette.color(QPalette::Light);
    case 22: // 3D light
        return palette.color(QPalette::Midlight);
    case 23: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 24: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    case 26: // hot-tracked item
        return palette.color(QPalette::Link);
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace

namespace Colors {

QColor toQColor(std::uint32_t value)
{
    if (value & 0x80000000u)
        return systemColor(value & 0xFFu);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

std::uint32_t fromQColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return std::uint32_t(rgb.red()) | (std::uint32_t(rgb.green()) << 8)
            | (std::uint32_t(rgb.blue()) << 16);
}

QString toText(std::uint32_t value)
{
    return QString::number(static_cast<std::int32_t>(value));
}

void setBackColor(QWidget *widget, std::uint32_t value)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, toQColor(value));
    // Buttons and check boxes fill their background from another role.
    palette.setColor(widget->backgroundRole(), toQColor(value));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->setProperty("backColor", QVariant::fromValue(value));
}

void setForeColor(QWidget *widget, std::uint32_t value)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, toQColor(value));
    widget->setPalette(palette);
    widget->setProperty("foreColor", QVariant::fromValue(value));
}

std::uint32_t backColor(const QWidget *widget)
{
    const QVariant stored = widget->property("backColor");
    if (stored.isValid())
        return stored.value<std::uint32_t>();
    return fromQColor(widget->palette().color(QPalette::Window));
}

} // namespace Colors
