#include "app/seams.h"

#include "app/colors.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>

namespace {

// The window the last box came over, for a box opened before the focus came
// back from the one before it.
QPointer<QWidget> gBoxOwner;

class QtDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, const QString &title, BoxIcon icon) override
    {
        // The composed texts use CR LF and bare CR line ends; a lone CR is a
        // line break of its own, so CR CR shows as one empty line.
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                        title, shown, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.setWindowModality(Qt::ApplicationModal);
        QPointer<QWidget> owner = parent ? parent->window() : QApplication::activeWindow();
        if (owner)
            gBoxOwner = owner;
        else
            owner = gBoxOwner;
        box.exec();
        // The window manager does not give the focus back to a window kept
        // out of the taskbar, such as the display: give it back ourselves.
        if (owner && owner->isVisible() && !owner->isMinimized())
            owner->activateWindow();
    }

    void chooseFont(QWidget *parent, FontChoice &font) override;
    void chooseColor(QWidget *parent, std::uint32_t &color) override;
};

void QtDialogs::chooseFont(QWidget *parent, FontChoice &font)
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

void QtDialogs::chooseColor(QWidget *parent, std::uint32_t &color)
{
    QColorDialog dialog(Colors::toQColor(color), parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    // On Cancel the value stays as given, a system colour included.
    if (dialog.exec() == QDialog::Accepted)
        color = Colors::fromQColor(dialog.selectedColor());
}

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

QtDialogs gQtDialogs;
Dialogs *gDialogs = &gQtDialogs;
SystemClock gSystemClock;
const Clock *gClock = &gSystemClock;

} // namespace

Dialogs &Dialogs::instance()
{
    return *gDialogs;
}

void Dialogs::install(Dialogs *dialogs)
{
    gDialogs = dialogs ? dialogs : &gQtDialogs;
}

const Clock &Clock::instance()
{
    return *gClock;
}

void Clock::install(const Clock *clock)
{
    gClock = clock ? clock : &gSystemClock;
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
