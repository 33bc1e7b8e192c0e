#include "display/windowhints.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace WindowHints {

void setUpSkipTaskbar(QWidget *) { }

// Keeps the window out of the taskbar and pager on X11 window managers; Qt
// keeps this state when it adds its own before mapping the window.
void skipTaskbar(QWidget *window)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return;
    Display *display = x11->display();
    Atom states[] = {XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
                     XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False)};
    XChangeProperty(display, static_cast<Window>(window->winId()),
                    XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char *>(states), 2);
    XSync(display, False);
}

} // namespace WindowHints
