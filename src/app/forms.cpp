#include "app/forms.h"

#include "display/form2.h"
#include "options/form1.h"
#include "options/form3.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace {

QPointer<Form1> gForm1;
QPointer<Form2> gForm2;
QPointer<Form3> gForm3;
bool gEnding = false;
std::function<void()> gQuit;

template<typename T>
T *touch(QPointer<T> &slot)
{
    if (!slot && !gEnding) {
        slot = new T;
        slot->Form_Load();
    }
    return slot;
}

void forget(Form *form)
{
    if (form == gForm1)
        gForm1 = nullptr;
    else if (form == gForm2)
        gForm2 = nullptr;
    else if (form == gForm3)
        gForm3 = nullptr;
}

} // namespace

namespace Forms {

Form1 *form1()
{
    return touch(gForm1);
}

Form2 *form2()
{
    return touch(gForm2);
}

Form3 *form3()
{
    return touch(gForm3);
}

Form1 *loadedForm1()
{
    return gForm1;
}

Form2 *loadedForm2()
{
    return gForm2;
}

Form3 *loadedForm3()
{
    return gForm3;
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
    forget(form);
    form->setUnloading();
    form->hide();
    for (QTimer *timer : form->findChildren<QTimer *>())
        timer->stop();
    form->deleteLater();
}

void endProgram()
{
    if (gEnding)
        return;
    gEnding = true;
    for (Form *form :
         {static_cast<Form *>(gForm1), static_cast<Form *>(gForm2), static_cast<Form *>(gForm3)}) {
        if (!form)
            continue;
        for (QTimer *timer : form->findChildren<QTimer *>())
            timer->stop();
        form->setUnloading();
        form->hide();
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
    delete gForm3.data();
    delete gForm2.data();
    delete gForm1.data();
    gForm1 = nullptr;
    gForm2 = nullptr;
    gForm3 = nullptr;
    gEnding = false;
}

} // namespace Forms
