#include "app/forms.h"
#include "app/runtimeerror.h"
#include "display/form2.h"
#include "display/keepawake.h"
#include "display/keepawake_dbus.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

// Xlib's macros clash with Qt names: its headers come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>

namespace {

Display *qtDisplay()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// Milliseconds since the X server last saw user input (MIT-SCREEN-SAVER).
long xIdleMs()
{
    Display *display = qtDisplay();
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    XScreenSaverQueryInfo(display, DefaultRootWindow(display), info);
    const long idle = static_cast<long>(info->idle);
    XFree(info);
    return idle;
}

} // namespace

// A screen saver service as desktops offer it, counting the calls it gets.
class FakeScreenSaver : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    std::atomic<int> activityCalls = 0;
    std::atomic<int> inhibitCalls = 0;
    std::atomic<bool> refuse = false;

public slots:
    Q_SCRIPTABLE void SimulateUserActivity()
    {
        ++activityCalls;
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied,
                           QStringLiteral("Activity is not yours to fake"));
    }
    Q_SCRIPTABLE uint Inhibit(const QString &, const QString &)
    {
        ++inhibitCalls;
        return 42;
    }
    Q_SCRIPTABLE void UnInhibit(uint) { }
};

// A service that offers inhibiting only, as some desktops' screen saver proxies do.
class InhibitOnlyScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public slots:
    Q_SCRIPTABLE uint Inhibit(const QString &, const QString &) { return 42; }
};

// Serves objects on a bus connection and in a thread of their own, so that the
// test's blocking calls travel through the bus daemon and get answered while
// the test thread waits.
class BusService
{
public:
    BusService()
        : mName(QStringLiteral("fake-screensaver-%1").arg(++sCount)),
          mBus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, mName))
    {
        mThread.start();
    }
    ~BusService()
    {
        for (const QString &path : mPaths)
            mBus.unregisterObject(path);
        mBus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
        QDBusConnection::disconnectFromBus(mName);
        for (QObject *object : mObjects)
            object->deleteLater();
        mThread.quit();
        mThread.wait();
    }

    // Not owned by the caller any more; deleted with the service.
    bool serve(const QString &path, QObject *object)
    {
        object->moveToThread(&mThread);
        mObjects.push_back(object);
        mPaths.push_back(path);
        return mBus.registerObject(path, object, QDBusConnection::ExportScriptableSlots);
    }
    bool claimName() { return mBus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")); }
    bool connected() const { return mBus.isConnected(); }

private:
    static inline int sCount = 0;
    QString mName;
    QDBusConnection mBus;
    QThread mThread;
    std::vector<QObject *> mObjects;
    QStringList mPaths;
};

class KeyRecorder : public QWidget
{
public:
    struct Press
    {
        int key;
        quint32 nativeKey;
    };
    QList<Press> presses;
    int shiftReleases = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        presses.append({event->key(), event->nativeVirtualKey()});
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Shift)
            ++shiftReleases;
    }
};

class TestKeepAwake : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void keyCodeMustFitOneByte();

    void keyStrokeAndIdleResetEachRestartTheXIdleTime();
    void syntheticShiftReachesTheFocusedWindow();
    void tickBetweenLettersOfHideBreaksTheWord();

    void idleResetAsksTheScreenSaverOnceAndNeverInhibits_data();
    void idleResetAsksTheScreenSaverOnceAndNeverInhibits();
    void absentScreenSaverIsNoFailure();
    void refusalIsReportedWithTheBusMessage();
};

void TestKeepAwake::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !qtDisplay())
        QSKIP("needs an X server (run through run-on-private-display.sh)");
    int eventBase = 0, errorBase = 0;
    QVERIFY2(XScreenSaverQueryExtension(qtDisplay(), &eventBase, &errorBase),
             "the X server lacks MIT-SCREEN-SAVER");
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus");
}

void TestKeepAwake::keyCodeMustFitOneByte()
{
    QCOMPARE(rightShiftKeyCode(62), std::uint8_t(62));
    QCOMPARE(rightShiftKeyCode(255), std::uint8_t(255));
    for (std::int64_t tooWide : {std::int64_t(256), std::int64_t(0x10000003E), std::int64_t(-1)}) {
        try {
            rightShiftKeyCode(tooWide);
            QFAIL(qPrintable(QStringLiteral("%1 was taken as a byte").arg(tooWide)));
        } catch (const RuntimeError &error) {
            QCOMPARE(error.description(), Errors::Overflow);
        }
    }
    // 0: no key produces the right Shift; failing beats sending a key no keyboard has.
    try {
        rightShiftKeyCode(0);
        QFAIL("key code 0 was accepted");
    } catch (const RuntimeError &error) {
        QCOMPARE(error.description(), QStringLiteral("The keyboard has no right Shift key"));
    }
}

void TestKeepAwake::keyStrokeAndIdleResetEachRestartTheXIdleTime()
{
    KeepAwake &keepAwake = KeepAwake::instance();
    // Without input the idle time only grows, so any drop below the grown
    // value shows that the step counted as user activity.
    QTRY_VERIFY_WITH_TIMEOUT(xIdleMs() >= 2000, 30000);
    long grown = xIdleMs();
    keepAwake.pressRightShift();
    keepAwake.releaseRightShift();
    long after = xIdleMs();
    QVERIFY2(after < grown,
             qPrintable(QStringLiteral("idle %1 ms, then %2 ms after the key stroke")
                                .arg(grown)
                                .arg(after)));

    QTRY_VERIFY_WITH_TIMEOUT(xIdleMs() >= 2000, 30000);
    grown = xIdleMs();
    keepAwake.resetIdleTimer();
    after = xIdleMs();
    QVERIFY2(after < grown,
             qPrintable(QStringLiteral("idle %1 ms, then %2 ms after the reset")
                                .arg(grown)
                                .arg(after)));
}

void TestKeepAwake::syntheticShiftReachesTheFocusedWindow()
{
    KeyRecorder window;
    window.setGeometry(100, 100, 300, 200);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    KeepAwake::instance().pressRightShift();
    KeepAwake::instance().releaseRightShift();
    QTRY_COMPARE_WITH_TIMEOUT(window.shiftReleases, 1, 10000);
    // Exactly one press, and of the right Shift key, not the left one.
    QCOMPARE(window.presses.size(), 1);
    QCOMPARE(window.presses[0].key, int(Qt::Key_Shift));
    QCOMPARE(window.presses[0].nativeKey, quint32(XK_Shift_R));
}

void TestKeepAwake::tickBetweenLettersOfHideBreaksTheWord()
{
    TestEnvironment env;
    const ScopedOverride<KeepAwake> platform(KeepAwake::production());
    Form2 *form2 = Forms::form2();
    child<QTimer>(form2, "Timer1")->stop();
    child<QTimer>(form2, "Timer2")->stop(); // the test runs the tick itself
    form2->showDisplay();
    QVERIFY(QTest::qWaitForWindowActive(form2));

    QTest::keyClick(form2, Qt::Key_H);
    QTest::keyClick(form2, Qt::Key_I);
    QCOMPARE(form2->mHideStep, std::int16_t(2));
    form2->Timer2_Timer();
    // The tick's Shift stroke comes through the X server like a typed key.
    QTRY_COMPARE_WITH_TIMEOUT(form2->mHideStep, std::int16_t(0), 10000);
    QTest::keyClick(form2, Qt::Key_D);
    QTest::keyClick(form2, Qt::Key_E);
    QVERIFY(!child<QLabel>(form2, "Label1")->size().isEmpty());
    QVERIFY(env.dialogs.messages.isEmpty());
}

void TestKeepAwake::idleResetAsksTheScreenSaverOnceAndNeverInhibits_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::newRow("freedesktop path") << QStringList{"/org/freedesktop/ScreenSaver"};
    QTest::newRow("short path only") << QStringList{"/ScreenSaver"};
    QTest::newRow("both paths") << QStringList{"/org/freedesktop/ScreenSaver", "/ScreenSaver"};
}

void TestKeepAwake::idleResetAsksTheScreenSaverOnceAndNeverInhibits()
{
    QFETCH(QStringList, paths);
    BusService service;
    QVERIFY(service.connected());
    std::vector<FakeScreenSaver *> savers;
    for (const QString &path : paths) {
        savers.push_back(new FakeScreenSaver);
        QVERIFY(service.serve(path, savers.back()));
    }
    QVERIFY(service.claimName());

    for (int tick = 1; tick <= 3; ++tick) {
        KeepAwake::instance().resetIdleTimer();
        int activity = 0, inhibits = 0;
        for (FakeScreenSaver *saver : savers) {
            activity += saver->activityCalls;
            inhibits += saver->inhibitCalls;
        }
        QCOMPARE(activity, tick);
        QCOMPARE(inhibits, 0);
    }
    // With both paths served, the first one answers.
    QCOMPARE(savers.front()->activityCalls, 3);
}

void TestKeepAwake::absentScreenSaverIsNoFailure()
{
    // Nobody owns the name on this bus.
    QVERIFY_THROWS_NO_EXCEPTION(KeepAwake::instance().resetIdleTimer());

    // No bus at all.
    const QString name = QStringLiteral("no-bus");
    QDBusConnection noBus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/keepawake-test-bus"), name);
    QVERIFY(!noBus.isConnected());
    QVERIFY_THROWS_NO_EXCEPTION(ScreenSaverBus::simulateUserActivity(noBus));
    QDBusConnection::disconnectFromBus(name);

    // A screen saver service that cannot simulate activity on either path.
    BusService service;
    QVERIFY(service.serve("/org/freedesktop/ScreenSaver", new InhibitOnlyScreenSaver));
    QVERIFY(service.claimName());
    QVERIFY_THROWS_NO_EXCEPTION(KeepAwake::instance().resetIdleTimer());
}

void TestKeepAwake::refusalIsReportedWithTheBusMessage()
{
    BusService service;
    auto *saver = new FakeScreenSaver;
    saver->refuse = true;
    QVERIFY(service.serve("/org/freedesktop/ScreenSaver", saver));
    QVERIFY(service.claimName());
    try {
        KeepAwake::instance().resetIdleTimer();
        QFAIL("the refusal went unreported");
    } catch (const RuntimeError &error) {
        QCOMPARE(error.description(), QStringLiteral("Activity is not yours to fake"));
    }
    // A refusal is final: the other path is not tried.
    QCOMPARE(saver->activityCalls, 1);
}

QTEST_MAIN(TestKeepAwake)
#include "tst_keepawake.moc"
