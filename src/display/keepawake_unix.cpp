#include "display/keepawake.h"

#include "app/runtimeerror.h"
#include "display/keepawake_dbus.h"

#include <QDBusConnection>
#include <QGuiApplication>

#ifdef TALLOW_HAVE_X11
// Xlib defines macros (Bool, Status, None, KeyPress, ...) that clash with Qt
// names, so its headers come after every Qt header.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#endif

namespace {

// Without an X display (a Wayland session, or no display at all) an ordinary
// program cannot inject a key; the key steps then do nothing, and the idle
// timer is reset through the session's screen saver service alone.
class SessionBusKeepAwake : public KeepAwake
{
public:
    void pressRightShift() override { }
    void releaseRightShift() override { }
    void resetIdleTimer() override
    {
        ScreenSaverBus::simulateUserActivity(QDBusConnection::sessionBus());
    }
};

#ifdef TALLOW_HAVE_X11

// The X display Qt is connected to, or nullptr when Qt does not run on X.
// It is asked for at every step, so nothing is kept that could outlive Qt.
Display *qtDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// On X the key goes through the XTEST extension, which puts it into the
// server's input stream as if typed: it resets the server's idle time and
// reaches the focused window like a real key stroke.
class X11KeepAwake : public KeepAwake
{
public:
    void pressRightShift() override { sendRightShift(true); }
    void releaseRightShift() override { sendRightShift(false); }

    void resetIdleTimer() override
    {
        if (Display *display = qtDisplay()) {
            XResetScreenSaver(display);
            XFlush(display);
        }
        ScreenSaverBus::simulateUserActivity(QDBusConnection::sessionBus());
    }

private:
    static void sendRightShift(bool down)
    {
        Display *display = qtDisplay();
        if (!display)
            return;
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        // A server without XTEST offers no way to inject a key, like Wayland;
        // the idle reset still works through XResetScreenSaver.
        if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor))
            return;
        // Looked up at each step: the keyboard mapping can change while the program runs.
        const std::uint8_t code = rightShiftKeyCode(XKeysymToKeycode(display, XK_Shift_R));
        if (!XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime))
            throw RuntimeError(QStringLiteral("The X server did not accept the key event"));
        // Waits until the server has handled the event, so that the key stroke
        // is already on its way to the focused window when the tick next lets
        // pending events run.
        XSync(display, False);
    }
};

#endif

} // namespace

KeepAwake &KeepAwake::production()
{
    static SessionBusKeepAwake sessionBus;
#ifdef TALLOW_HAVE_X11
    static X11KeepAwake x11;
    if (qtDisplay())
        return x11;
#endif
    return sessionBus;
}
