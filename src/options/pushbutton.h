#pragma once

#include <QPushButton>

// The program's push button: a caption in Arial 11.25 pt bold, button-text
// colour on white, and a mouseMoved signal while the pointer moves over it.
class PushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit PushButton(const QString &caption, QWidget *parent = nullptr);

signals:
    void mouseMoved();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};
