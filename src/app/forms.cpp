#include "app/forms.h"

#include "app/form.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <array>

namespace {

constexpr std::size_t WindowCount = 3;

struct Slot
{
    std::function<Form *()> make;
    QPointer<Form> instance;
};

std::array<Slot, WindowCount> gSlots;
bool gEnding = false;
std::function<void()> gQuit;

Slot &slot(Forms::Window window)
{
    return gSlots[static_cast<std::size_t>(window)];
}

// Hides the window as one that is going, then stops its timers.
void hideForGood(Form *form)
{
    form->setUnloading();
    form->hide();
    for (QTimer *timer : form->findChildren<QTimer *>())
        timer->stop();
}

// The windows in the order they are torn down: the colour window, the
// display, then the options window.
constexpr Forms::Window TeardownOrder[]
        = {Forms::Window::Colours, Forms::Window::Display, Forms::Window::Options};

} // namespace

namespace Forms {

void registerWindow(Window window, std::function<Form *()> make)
{
    slot(window).make = std::move(make);
}

Form *form(Window window)
{
    Slot &entry = slot(window);
    if (!entry.instance && !gEnding && entry.make) {
        entry.instance = entry.make();
        entry.instance->Form_Load();
    }
    return entry.instance;
}

Form *loaded(Window window)
{
    return slot(window).instance;
}

void unload(Form *form)
{
    if (!form || gEnding)
        return;
    QPointer<Form> guard(form);
    form->Form_QueryUnload();
    if (gEnding || !guard)
        return;
    form->Form_Unload();
    if (gEnding || !guard)
        return;
    for (Slot &entry : gSlots) {
        if (entry.instance == form)
            entry.instance = nullptr;
    }
    hideForGood(form);
    form->deleteLater();
}

void endProgram()
{
    if (gEnding)
        return;
    gEnding = true;
    for (Window window : {Window::Options, Window::Display, Window::Colours}) {
        Form *form = slot(window).instance;
        if (form)
            hideForGood(form);
    }
    if (gQuit)
        gQuit();
    else
        QCoreApplication::exit(0);
}

bool ending()
{
    return gEnding;
}

void setQuitHandler(std::function<void()> handler)
{
    gQuit = std::move(handler);
}

void destroyAll()
{
    for (Window window : TeardownOrder) {
        delete slot(window).instance.data();
        slot(window).instance = nullptr;
    }
    gEnding = false;
}

} // namespace Forms
