#include "app/platformdialogs.h"

#include "app/colors.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>

// Qt's own font and colour dialogs, where the platform has no common dialogs.

namespace PlatformDialogs {

void chooseFont(QWidget *parent, FontChoice &font)
{
    QFont preset(font.name);
    preset.setBold(font.bold);
    preset.setItalic(font.italic);
    if (font.size > 0)
        preset.setPointSizeF(font.size);
    // The dialog lists real families only: a name that the font system
    // substitutes ("Arial" for its metric twin) must be given as the family it
    // resolves to, or the dialog falls back to another family and style.
    const QString resolved = QFontInfo(preset).family();
    preset.setFamilies({resolved});

    QFontDialog dialog(preset, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    // Strike-through and underline are not offered: they keep their stored
    // values. The effects group is the one holding check boxes.
    for (QGroupBox *group : dialog.findChildren<QGroupBox *>()) {
        if (!group->findChildren<QCheckBox *>().isEmpty())
            group->hide();
    }
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QFont chosen = dialog.selectedFont();
    // Keeping the stored name while the user keeps its family leaves
    // "Arial" as "Arial" rather than the name of the face standing in for it.
    if (chosen.family() != resolved || font.name.isEmpty())
        font.name = chosen.family();
    font.bold = chosen.bold();
    font.italic = chosen.italic();
    if (chosen.pointSizeF() > 0)
        font.size = static_cast<float>(chosen.pointSizeF());
}

void chooseColor(QWidget *parent, std::uint32_t &color)
{
    QColorDialog dialog(Colors::toQColor(color), parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    // On Cancel the value stays as given, a system colour included.
    if (dialog.exec() == QDialog::Accepted)
        color = Colors::fromQColor(dialog.selectedColor());
}

} // namespace PlatformDialogs
