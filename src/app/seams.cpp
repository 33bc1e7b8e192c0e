#include "app/seams.h"

#include "app/appshell.h"
#include "app/platformdialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// The window the last box came over, for a box opened before the focus came
// back from the one before it.
QPointer<QWidget> gBoxOwner;

class ProductionDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, const QString &title, BoxIcon icon) override
    {
        // The composed texts use CR LF and bare CR line ends; a lone CR is a
        // line break of its own, so CR CR shows as one empty line.
        QString shown = text;
        shown.replace(AppShell::CrLf, QStringLiteral("\n"));
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        // A box comes centred over its parent's window. One whose window is
        // not shown yet (the display while it loads) would land at that
        // window's unshown place, a corner of the screen: it comes over the
        // window the user sees instead, the active one or the one the last
        // box came over.
        QPointer<QWidget> owner = parent ? parent->window() : QApplication::activeWindow();
        if (!owner || !owner->isVisible())
            owner = QApplication::activeWindow();
        if (!owner || !owner->isVisible())
            owner = gBoxOwner && gBoxOwner->isVisible() ? gBoxOwner : nullptr;
        if (owner)
            gBoxOwner = owner;
        QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                        title, shown, QMessageBox::Ok, owner);
        box.setTextFormat(Qt::PlainText);
        box.setWindowModality(Qt::ApplicationModal);
        if (const int wait = Dialogs::messageAutoClose(); wait > 0) {
            QTimer::singleShot(wait, &box, [&box] { box.button(QMessageBox::Ok)->click(); });
        }
        box.exec();
        // The window manager does not give the focus back to a window kept
        // out of the taskbar, such as the display: give it back ourselves.
        if (owner && owner->isVisible() && !owner->isMinimized())
            owner->activateWindow();
    }

    void chooseFont(QWidget *parent, FontChoice &font) override
    {
        PlatformDialogs::chooseFont(parent, font);
    }

    void chooseColor(QWidget *parent, std::uint32_t &color) override
    {
        PlatformDialogs::chooseColor(parent, color);
    }
};

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
    static ProductionDialogs dialogs;
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
