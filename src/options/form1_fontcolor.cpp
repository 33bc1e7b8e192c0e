#include "options/form1.h"

#include "app/colors.h"
#include "app/conversions.h"
#include "app/errortrap.h"
#include "app/forms.h"
#include "app/seams.h"
#include "app/settings.h"
#include "options/form3.h"

// The font and colour buttons of the options window.

namespace {

// The font dialog writes these two values under its own member names. The
// store ignores letter case, so they are the values Key::FontStrikeThru and
// Key::FontUnderLine read.
const QString DialogStrikethruKey = QStringLiteral("FontStrikethru");
const QString DialogUnderlineKey = QStringLiteral("FontUnderline");

// Larger sizes are stored as this; there is no lower bound.
constexpr float LargestFontSize = 250.0f;

} // namespace

void Form1::PushButton2_Click()
{
    using namespace Settings;
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
    // The dialog offers screen fonts without an effects section, so there are
    // no options to set first. Preset every member from the store; a preset
    // that fails leaves the value of the dialog's previous use in this window
    // (at first no face and 8 points).
    trap(102, [&] { CommonDialog1.name = get(Key::FontName, QStringLiteral("Courier New")); });
    trap(104, [&] { CommonDialog1.bold = Convert::isTrue(get(Key::FontBold, "True")); });
    trap(106, [&] { CommonDialog1.italic = Convert::isTrue(get(Key::FontItalic, "False")); });
    trap(108, [&] {
        CommonDialog1.size = static_cast<float>(Convert::toInt16(get(Key::FontSize, "72")));
    });
    trap(110,
         [&] { CommonDialog1.strikethru = Convert::isTrue(get(Key::FontStrikeThru, "False")); });
    trap(112, [&] { CommonDialog1.underline = Convert::isTrue(get(Key::FontUnderLine, "False")); });
    // OK takes the user's choice; Cancel leaves the presets, which are then
    // written back normalised.
    trap(114, [&] { Dialogs::instance().chooseFont(this, CommonDialog1); });
    trap(116, [&] { save(Key::FontName, CommonDialog1.name); });
    trap(118, [&] { save(Key::FontBold, Convert::fromBool(CommonDialog1.bold)); });
    trap(120, [&] { save(Key::FontItalic, Convert::fromBool(CommonDialog1.italic)); });
    trap(122, [&] {
        if (CommonDialog1.size > LargestFontSize)
            CommonDialog1.size = LargestFontSize;
    });
    trap(124, [&] { save(Key::FontSize, Convert::fromSingle(CommonDialog1.size)); });
    trap(126, [&] { save(DialogStrikethruKey, Convert::fromBool(CommonDialog1.strikethru)); });
    trap(128, [&] { save(DialogUnderlineKey, Convert::fromBool(CommonDialog1.underline)); });
}

void Form1::PushButton3_Click()
{
    using namespace Settings;
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"));
    trap(100, [] { save(Key::FontName, QStringLiteral("Arial")); });
    trap(102, [] { save(Key::FontBold, Convert::fromBool(true)); });
    trap(104, [] { save(Key::FontItalic, Convert::fromBool(false)); });
    trap(106, [] { save(Key::FontSize, QStringLiteral("72")); });
    trap(108, [] { save(Key::FontStrikeThru, Convert::fromBool(false)); });
    trap(110, [] { save(Key::FontUnderLine, Convert::fromBool(false)); });
}

void Form1::PushButton5_Click()
{
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"));
    // Only hidden, not unloaded: closing the colour window shows this same
    // window again.
    // It opens on this window's monitor, where the user is looking.
    trap(100, [&] {
        if (Form3 *colours = Forms::form3()) {
            colours->setStartScreen(screen());
            colours->show();
        }
    });
    trap(102, [&] { hide(); });
}

void Form1::PushButton6_Click()
{
    using namespace Settings;
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton6_Click"));
    trap(100, [] { save(Key::FontColor, Colors::toText(Colors::White)); });
    trap(102, [] { save(Key::BackgroundColor, Colors::toText(Colors::Black)); });
}
