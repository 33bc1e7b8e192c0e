#include "display/latinkey.h"

#include <QKeyEvent>

#ifdef TALLOW_HAVE_X11
#include <QGuiApplication>
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#endif

int latinLetterOfKey(const QKeyEvent *event)
{
#if defined(Q_OS_WIN)
    // The virtual-key code of a letter key is its Latin letter in every layout.
    const quint32 virtualKey = event->nativeVirtualKey();
    return virtualKey >= 'A' && virtualKey <= 'Z' ? int(virtualKey) : 0;
#elif defined(TALLOW_HAVE_X11)
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    const quint32 keycode = event->nativeScanCode();
    if (!x11 || !x11->display() || keycode < 8 || keycode > 255)
        return 0;
    // Read afresh: Qt reads the X events, so Xlib's own copy of the keymap
    // would miss a layout change made while the program runs.
    XkbDescPtr keyboard = XkbGetMap(x11->display(), XkbKeySymsMask, XkbUseCoreKbd);
    if (!keyboard)
        return 0;
    int letter = 0;
    if (keycode >= keyboard->min_key_code && keycode <= keyboard->max_key_code) {
        const int groups = XkbKeyNumGroups(keyboard, keycode);
        for (int group = 0; group < groups && !letter; ++group) {
            const KeySym symbol = XkbKeySymEntry(keyboard, keycode, 0, group);
            if (symbol >= XK_a && symbol <= XK_z)
                letter = Qt::Key_A + int(symbol - XK_a);
            else if (symbol >= XK_A && symbol <= XK_Z)
                letter = Qt::Key_A + int(symbol - XK_A);
        }
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return letter;
#else
    Q_UNUSED(event);
    return 0;
#endif
}
