#include "app/platformdialogs.h"

#include <QWidget>

#include <windows.h>

#include <commdlg.h>

#include <cwchar>

// The common font and colour dialogs of Windows, modal over the caller's
// window.

namespace {

HWND ownerOf(QWidget *parent)
{
    return parent ? reinterpret_cast<HWND>(parent->window()->winId()) : nullptr;
}

int screenPixelsPerInch()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

} // namespace

namespace PlatformDialogs {

void chooseFont(QWidget *parent, FontChoice &font)
{
    LOGFONTW preset{};
    // A longer name than the structure holds is cut, as the dialog would.
    const std::wstring name = font.name.left(LF_FACESIZE - 1).toStdWString();
    wcsncpy(preset.lfFaceName, name.c_str(), LF_FACESIZE - 1);
    preset.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    preset.lfItalic = font.italic ? TRUE : FALSE;
    preset.lfStrikeOut = font.strikethru ? TRUE : FALSE;
    preset.lfUnderline = font.underline ? TRUE : FALSE;
    preset.lfCharSet = DEFAULT_CHARSET;
    if (font.size > 0) {
        // Character height in pixels, negative as the font mapper wants it;
        // tenths of a point keep a fractional size.
        preset.lfHeight
                = -MulDiv(static_cast<int>(font.size * 10.0f + 0.5f), screenPixelsPerInch(), 720);
    }

    // Screen fonts only and no effects section: strike-through, underline and
    // colour are not offered, and no size limits are imposed.
    CHOOSEFONTW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ownerOf(parent);
    dialog.lpLogFont = &preset;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
    if (!ChooseFontW(&dialog))
        return; // Cancel (or no dialog): the values stay as given

    font.name = QString::fromWCharArray(preset.lfFaceName);
    // Medium and lighter weights are regular; semibold and heavier are bold.
    font.bold = preset.lfWeight > FW_MEDIUM;
    font.italic = preset.lfItalic != 0;
    if (dialog.iPointSize > 0)
        font.size = static_cast<float>(dialog.iPointSize) / 10.0f;
}

void chooseColor(QWidget *parent, std::uint32_t &color)
{
    // The sixteen custom colours the user defines last for the whole run, as
    // the dialog's own "Define Custom Colors" expects.
    static COLORREF customColors[16]
            = {RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255)};

    CHOOSECOLORW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ownerOf(parent);
    // A system colour (high bit set, index in the low byte) opens on the
    // colour it stands for now.
    dialog.rgbResult = (color & 0x80000000u) ? GetSysColor(static_cast<int>(color & 0xFFu))
                                             : static_cast<COLORREF>(color & 0x00FFFFFFu);
    dialog.lpCustColors = customColors;
    dialog.Flags = CC_RGBINIT;
    // On Cancel the value stays as given, a system colour included.
    if (ChooseColorW(&dialog))
        color = static_cast<std::uint32_t>(dialog.rgbResult & 0x00FFFFFFu);
}

} // namespace PlatformDialogs
