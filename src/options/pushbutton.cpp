#include "options/pushbutton.h"

#include "app/colors.h"

#include <QMouseEvent>

PushButton::PushButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::ButtonText, Colors::toQColor(Colors::ButtonText));
    palette.setColor(QPalette::Button, Colors::toQColor(Colors::White));
    setPalette(palette);
    setMouseTracking(true);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved();
    QPushButton::mouseMoveEvent(event);
}
