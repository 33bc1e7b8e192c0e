#include "app/form.h"

#include "app/forms.h"
#include "app/runtimeerror.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QScreen>

QFont Form::windowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    font.setBold(true);
    return font;
}

int Form::checkValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

void Form::setCheckValue(QCheckBox *box, int value)
{
    switch (value) {
    case 0:
        box->setCheckState(Qt::Unchecked);
        return;
    case 1:
        box->setCheckState(Qt::Checked);
        return;
    case 2:
        box->setCheckState(Qt::PartiallyChecked);
        return;
    default:
        throw RuntimeError(Errors::InvalidPropertyValue);
    }
}

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

void Form::nameControls(std::initializer_list<std::pair<QObject *, const char *>> controls)
{
    for (const auto &[control, name] : controls)
        control->setObjectName(QLatin1String(name));
}

void Form::setPointerOnMove(QWidget *area, int code)
{
    mPointerOnMove.insert(area, code);
    area->setMouseTracking(true);
    area->installEventFilter(this);
    if (area != this)
        keepPointerOnMove(area);
}

void Form::keepPointerOnMove(QWidget *control)
{
    control->setAttribute(Qt::WA_NoMousePropagation);
}

bool Form::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        const auto rule = mPointerOnMove.constFind(watched);
        if (rule != mPointerOnMove.constEnd())
            setMousePointer(*rule);
    }
    return QWidget::eventFilter(watched, event);
}

void Form::showEvent(QShowEvent *event)
{
    if (mCentreOnFirstShow) {
        mCentreOnFirstShow = false;
        if (const QScreen *screen = mStartScreen ? mStartScreen.data() : this->screen()) {
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
