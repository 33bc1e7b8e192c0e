#pragma once

#include "support/testsupport.h"

#include <QApplication>
#include <QTimer>

#include <functional>

// The production font and colour dialogs, with every message box still
// answered at once and recorded, so a failure cannot leave a real box open.
class RealPickers : public FakeDialogs
{
public:
    void chooseFont(QWidget *parent, FontChoice &font) override
    {
        Dialogs::production().chooseFont(parent, font);
    }
    void chooseColor(QWidget *parent, std::uint32_t &color) override
    {
        Dialogs::production().chooseColor(parent, color);
    }

private:
    ScopedOverride<Dialogs> mOverride{*this};
};

// Answers the next modal window from inside the event loop that shows it.
inline void whenModal(const std::function<void(QWidget *)> &answer)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            answer(modal);
        }
    });
    poll->start();
}
