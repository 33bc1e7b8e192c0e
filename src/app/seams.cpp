#include "app/seams.h"

#include "app/appshell.h"
#include "app/colors.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

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
        shown.replace(AppShell::CrLf, QStringLiteral("\n"));
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
        if (const int wait = Dialogs::messageAutoClose(); wait > 0) {
            QTimer::singleShot(wait, &box, [&box] { box.button(QMessageBox::Ok)->click(); });
        }
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

int gMessageAutoClose = 0;

} // namespace

Dialogs &Dialogs::instance()
{
    return sInstalled ? *sInstalled : production();
}

Dialogs &Dialogs::production()
{
    static QtDialogs dialogs;
    return dialogs;
}

void Dialogs::setMessageAutoClose(int milliseconds)
{
    gMessageAutoClose = milliseconds;
}

int Dialogs::messageAutoClose()
{
    return gMessageAutoClose;
}

Clock &Clock::instance()
{
    return sInstalled ? *sInstalled : production();
}

Clock &Clock::production()
{
    static SystemClock clock;
    return clock;
}
