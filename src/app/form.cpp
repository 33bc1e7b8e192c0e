#include "app/form.h"

#include "app/forms.h"

#include <QCloseEvent>
#include <QScreen>

Form::Form(QWidget *parent) : QWidget(parent) { }

Form::~Form() = default;

void Form::setMousePointer(int code)
{
    mMousePointer = code;
    if (code == PointerCustom && mMouseIcon)
        setCursor(*mMouseIcon);
    else
        setCursor(Qt::ArrowCursor);
}

void Form::setMouseIcon(const QCursor &cursor)
{
    mMouseIcon = cursor;
    setMousePointer(mMousePointer);
}

void Form::showEvent(QShowEvent *event)
{
    if (mCentreOnFirstShow) {
        mCentreOnFirstShow = false;
        if (const QScreen *screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

void Form::closeEvent(QCloseEvent *event)
{
    if (mUnloading || Forms::ending()) {
        event->accept();
        return;
    }
    // A close from outside (close box, window manager) unloads the window
    // through the registry, which runs its query-unload and unload handlers.
    event->ignore();
    Forms::unload(this);
}
