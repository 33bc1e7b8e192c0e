#include "app/platformdialogs.h"

#include "app/colors.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>

#include <algorithm>
#include <cstdlib>
#include <tuple>

// Qt's own font and colour dialogs, where the platform has no common dialogs.

namespace {

// The family of the dialog's list that the font system shows for `font`: a
// name it substitutes ("Arial" for its metric twin) gives the family
// standing in for it.
QString listedFamily(const QFont &font)
{
    const QString shown = QFontInfo(font).family();
    const QStringList families = QFontDatabase::families();
    if (families.contains(shown))
        return shown;
    for (const QString &family : families) {
        if (family.compare(shown, Qt::CaseInsensitive) == 0)
            return family;
    }
    return shown;
}

// The face of `family` with the weight and slant of `font`. The dialog finds
// a face by its style name, and a regular face is not always "Regular" (the
// DejaVu families call it "Book"): without the name it opens on the family's
// first face, often an oblique or condensed one. Among faces that fit
// equally, the one the font system picks, then the shortest name (the plain
// face before its condensed twin).
QString faceOf(const QString &family, const QFont &font)
{
    const QString picked = QFontInfo(font).styleName();
    QString best;
    std::tuple<bool, int, bool, qsizetype> bestRank;
    for (const QString &style : QFontDatabase::styles(family)) {
        const QFont face = QFontDatabase::font(family, style, 12);
        const std::tuple<bool, int, bool, qsizetype> rank{face.italic() != font.italic(),
                                                          std::abs(face.weight() - font.weight()),
                                                          style != picked, style.size()};
        if (best.isEmpty() || rank < bestRank) {
            best = style;
            bestRank = rank;
        }
    }
    return best;
}

} // namespace

namespace PlatformDialogs {

void chooseFont(QWidget *parent, FontChoice &font)
{
    QFont preset(font.name);
    preset.setBold(font.bold);
    preset.setItalic(font.italic);
    if (font.size > 0)
        preset.setPointSizeF(font.size);
    const QString family = listedFamily(preset);
    preset.setFamilies({family});
    preset.setStyleName(faceOf(family, preset));

    QFontDialog dialog(preset, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    // Strike-through and underline are not offered: they keep their stored
    // values. The effects group is the one holding check boxes.
    for (QGroupBox *group : dialog.findChildren<QGroupBox *>()) {
        if (!group->findChildren<QCheckBox *>().isEmpty())
            group->hide();
    }
    // The sample box is one line of the dialog's own font high: a display
    // size such as 72 points shows in it as nothing at all. It gets the
    // height of the face it opens on, within reason.
    if (const QList<QLineEdit *> edits = dialog.findChildren<QLineEdit *>(); edits.size() == 4) {
        QLineEdit *sample = edits.last();
        sample->setMinimumHeight(std::min(QFontMetrics(preset).height() + 12, 160));
        dialog.resize(dialog.sizeHint());
    }
    const QFont opened = dialog.currentFont();
    if (dialog.exec() != QDialog::Accepted)
        return;
    // What the user leaves as the dialog opened keeps the values it was
    // given: "Arial" stays "Arial" rather than the name of the face standing
    // in for it, and the face shown for a weight and slant stands for them.
    const QFont chosen = dialog.selectedFont();
    const bool sameFamily = chosen.family() == opened.family();
    if (!sameFamily || font.name.isEmpty())
        font.name = chosen.family();
    if (!sameFamily || QFontDatabase::styleString(chosen) != QFontDatabase::styleString(opened)) {
        font.bold = chosen.bold();
        font.italic = chosen.italic();
    }
    if (chosen.pointSizeF() > 0 && chosen.pointSizeF() != opened.pointSizeF())
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
