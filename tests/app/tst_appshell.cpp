#include "app/appshell.h"
#include "app/colors.h"
#include "app/commandline.h"
#include "app/runtimeerror.h"
#include "app/singleinstance.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

class TestAppShell : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup() { mEnv.reset(); }

    void titleCutsTheLastWord_data();
    void titleCutsTheLastWord();
    void titleOfNameWithoutBlankFails();
    void fileExistsNeverFails();
    void besideProgramUsesProgramFolder();
    void cursorFileKeepsItsHotSpot();
    void brokenCursorFileIsRefused();
    void skinColoursPlainControlsOnly();
    void colourConversions();
    void iconsAreBuiltIn();
    void seamOverridesNestAndStrayWindowsFail();
    void commandLine_data();
    void commandLine();
    void listensAgainAfterDescriptorShortage();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestAppShell::titleCutsTheLastWord_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("product") << "Vantorel Briskane Tallow Marquee Edition"
                             << "Vantorel Briskane Tallow Marquee";
    QTest::newRow("short name still loses a word") << "Quote Board"
                                                   << "Quote";
    // 45 characters ending in a blank and a four-letter word: cut once to 40.
    QTest::newRow("45 characters") << QString(40, 'x') + " abcd" << QString(40, 'x');
    // Three cuts leave 45 letters and no blank: the fourth cut fails.
    QTest::newRow("cut repeatedly") << QString(45, 'y') + " a b c"
                                    << "<fails>";
    QTest::newRow("leading blank") << " word"
                                   << "";
}

void TestAppShell::titleCutsTheLastWord()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    if (title == QLatin1String("<fails>")) {
        QVERIFY_THROWS_EXCEPTION(RuntimeError, AppShell::SetAppTitle(name));
        return;
    }
    AppShell::SetAppTitle(name);
    QCOMPARE(AppShell::appTitle(), title);
}

void TestAppShell::titleOfNameWithoutBlankFails()
{
    AppShell::SetAppTitle(AppShell::ProductName);
    try {
        AppShell::SetAppTitle("Marquee");
        QFAIL("a name without a blank cannot be cut");
    } catch (const RuntimeError &error) {
        QCOMPARE(error.description(), QStringLiteral("Invalid procedure call or argument"));
    }
    QCOMPARE(AppShell::appTitle(), QStringLiteral("Vantorel Briskane Tallow Marquee"));
}

void TestAppShell::fileExistsNeverFails()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("HAND-M.CUR");
    QVERIFY(!AppShell::FileExists(file));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(AppShell::FileExists(file));
    QVERIFY(!AppShell::FileExists(""));
    QVERIFY(!AppShell::FileExists(dir.filePath("no-such-folder/HAND-M.CUR")));
    QVERIFY(!AppShell::FileExists(QString::fromLatin1("bad\0path", 8)));
}

void TestAppShell::besideProgramUsesProgramFolder()
{
    QCOMPARE(AppShell::besideProgram(AppShell::SkinFile),
             QCoreApplication::applicationDirPath() + "/x/o.cjs");
    QCOMPARE(AppShell::besideProgram(AppShell::HandCursorFile),
             QCoreApplication::applicationDirPath() + "/HAND-M.CUR");
}

void TestAppShell::cursorFileKeepsItsHotSpot()
{
    // The build puts the program's own cursor beside the executables.
    const QCursor cursor
            = AppShell::loadCursorFile(AppShell::besideProgram(AppShell::HandCursorFile));
    QCOMPARE(cursor.pixmap().size(), QSize(32, 32));
    QCOMPARE(cursor.hotSpot(), QPoint(5, 0));
}

void TestAppShell::brokenCursorFileIsRefused()
{
    QTemporaryDir dir;
    const auto attempt = [&](const QByteArray &content) -> QString {
        QFile file(dir.filePath("bad.cur"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return "cannot write";
        file.write(content);
        file.close();
        try {
            AppShell::loadCursorFile(file.fileName());
            return "loaded";
        } catch (const RuntimeError &error) {
            return error.description();
        }
    };
    QCOMPARE(attempt(""), QStringLiteral("Invalid picture"));
    QCOMPARE(attempt("not a cursor at all, just text"), QStringLiteral("Invalid picture"));
    // A valid header whose image data is cut off.
    QFile good(AppShell::besideProgram(AppShell::HandCursorFile));
    QVERIFY(good.open(QIODevice::ReadOnly));
    QCOMPARE(attempt(good.readAll().left(40)), QStringLiteral("Invalid picture"));
}

void TestAppShell::skinColoursPlainControlsOnly()
{
    QWidget window;
    Colors::setBackColor(&window, Colors::White);
    auto *frame = new QGroupBox("Frame", &window);
    auto *check = new QCheckBox("Check", frame);
    auto *label = new QLabel("Label", &window);
    auto *edit = new QLineEdit(&window);
    Colors::setBackColor(edit, Colors::White);

    const QString skinFolder = QCoreApplication::applicationDirPath() + "/x";
    QDir(skinFolder).removeRecursively();
    AppShell::ApplySkin(&window);
    QCOMPARE(Colors::backColor(&window), Colors::White);
    QCOMPARE(Colors::backColor(frame),
             Colors::fromQColor(frame->palette().color(QPalette::Window)));

    // A folder of that name is not a skin file, nor is a hidden file.
    QVERIFY(QDir().mkpath(skinFolder + "/o.cjs"));
    AppShell::ApplySkin(&window);
    QCOMPARE(Colors::backColor(&window), Colors::White);
    QDir(skinFolder).removeRecursively();

    // The listing ignores the case of the name; the file it found is read.
    for (const char *name : {"o.cjs", "O.CJS"}) {
        QVERIFY(QDir().mkpath(skinFolder));
        QFile skin(skinFolder + "/" + name);
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QPushButton { font-weight: bold; }");
        skin.close();
        Colors::setBackColor(&window, Colors::White);
        AppShell::ApplySkin(&window);
        QDir(skinFolder).removeRecursively();
        QCOMPARE(Colors::backColor(&window), Colors::ButtonFace);
        QCOMPARE(Colors::backColor(frame), Colors::ButtonFace);
        QCOMPARE(Colors::backColor(check), Colors::ButtonFace);
        QCOMPARE(Colors::backColor(label), Colors::ButtonFace);
        QCOMPARE(Colors::backColor(edit), Colors::White);
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QPushButton { font-weight: bold; }"));
        qApp->setStyleSheet(QString());
    }
}

void TestAppShell::colourConversions()
{
    QCOMPARE(Colors::toQColor(0x000000FF), QColor(255, 0, 0));
    QCOMPARE(Colors::toQColor(0x00FF0000), QColor(0, 0, 255));
    QCOMPARE(Colors::toQColor(16777215), QColor(255, 255, 255));
    QCOMPARE(Colors::fromQColor(QColor(1, 2, 3)), 0x00030201u);
    QCOMPARE(Colors::toQColor(Colors::ButtonFace), QApplication::palette().color(QPalette::Button));
    QCOMPARE(Colors::toQColor(Colors::ButtonText),
             QApplication::palette().color(QPalette::ButtonText));
}

void TestAppShell::iconsAreBuiltIn()
{
    // The icons live in the application layer's library; the program must
    // carry them although no code names the resource file.
    const QIcon icon = AppShell::applicationIcon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{{32, 32}, {48, 48}, {128, 128}}));
    for (const int size : {32, 48, 128})
        QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
    QCOMPARE(AppShell::designIcon().pixmap(32).size(), QSize(32, 32));
}

void TestAppShell::seamOverridesNestAndStrayWindowsFail()
{
    FakeClock inner;
    inner.time = QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5));
    {
        const ScopedOverride<Clock> override(inner);
        QCOMPARE(Clock::instance().now(), inner.time);
    }
    // The environment's clock is back, not the production one.
    QCOMPARE(Clock::instance().now(), mEnv->clock.time);

    QWidget stray;
    stray.show();
    QEXPECT_FAIL("", "a window left open fails the test", Continue);
    mEnv.reset();
    QVERIFY(!stray.isVisible());
    QVERIFY(&Clock::instance() == &Clock::production());
}

void TestAppShell::commandLine_data()
{
    using Action = CommandLine::Options::Action;
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("kiosk");
    QTest::addColumn<QString>("screen");

    QTest::newRow("none: the options window") << QStringList{} << Action::Run << false << "";
    QTest::newRow("kiosk") << QStringList{"--kiosk"} << Action::Run << true << "";
    QTest::newRow("help") << QStringList{"--help"} << Action::Help << false << "";
    QTest::newRow("short help") << QStringList{"-h"} << Action::Help << false << "";
    QTest::newRow("version") << QStringList{"--version"} << Action::Version << false << "";
    QTest::newRow("help wins over version")
            << QStringList{"--version", "--help"} << Action::Help << false << "";
    QTest::newRow("screen") << QStringList{"--kiosk", "--screen", "HDMI-1"} << Action::Run << true
                            << "HDMI-1";
    QTest::newRow("screen with =")
            << QStringList{"--screen=DP-2"} << Action::Run << false << "DP-2";
    QTest::newRow("screen without a name")
            << QStringList{"--screen"} << Action::Fail << false << "";
    QTest::newRow("screen with an empty name")
            << QStringList{"--screen="} << Action::Fail << false << "";
    QTest::newRow("screen twice") << QStringList{"--screen", "A", "--screen=B"} << Action::Fail
                                  << false << "";
    // Qt's own options are left to QApplication, with their values.
    QTest::newRow("Qt's own options")
            << QStringList{"-platform",     "offscreen", "--style",          "--kiosk",
                           "-style=fusion", "-reverse",  "-qwindowgeometry", "640x480+10+10",
                           "-display",      ":3"}
            << Action::Run << false << "";
    QTest::newRow("Qt's option without its value")
            << QStringList{"--kiosk", "-platform"} << Action::Fail << true << "";
    QTest::newRow("unknown option") << QStringList{"--fullscreen"} << Action::Fail << false << "";
    QTest::newRow("unknown short option") << QStringList{"-k"} << Action::Fail << false << "";
    QTest::newRow("the old test option")
            << QStringList{"--test-box-close-ms=250"} << Action::Fail << false << "";
    QTest::newRow("argument") << QStringList{"IBM"} << Action::Fail << false << "";
    QTest::newRow("kiosk twice") << QStringList{"--kiosk", "--kiosk"} << Action::Fail << true << "";
    QTest::newRow("help twice, two spellings")
            << QStringList{"--help", "-h"} << Action::Fail << false << "";
    QTest::newRow("kiosk with a value")
            << QStringList{"--kiosk=yes"} << Action::Fail << false << "";
}

void TestAppShell::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(CommandLine::Options::Action, action);
    QFETCH(bool, kiosk);
    QFETCH(QString, screen);

    const CommandLine::Options options = CommandLine::parse(arguments);
    QCOMPARE(options.action, action);
    QCOMPARE(options.error.isEmpty(), action != CommandLine::Options::Action::Fail);
    if (action != CommandLine::Options::Action::Fail) {
        QCOMPARE(options.kiosk, kiosk);
        QCOMPARE(options.screen, screen);
    }
}

// A later start's request that arrives when the program has no descriptor
// left cannot be accepted, and the server lets go of its name then. Once
// descriptors are back the program listens again, so the next start finds it.
void TestAppShell::listensAgainAfterDescriptorShortage()
{
    QTemporaryDir runtime;
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    SingleInstance instance;
    const bool started = instance.start();
    if (hadRuntime)
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    else
        qunsetenv("XDG_RUNTIME_DIR");
    QVERIFY(started);
    auto *server = instance.findChild<QLocalServer *>();
    QVERIFY(server && server->isListening());

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(server->fullServerName());
    QVERIFY(socketPath.startsWith(QFile::encodeName(runtime.path())));
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const auto connectClient = [&address] {
        const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (client >= 0
            && ::connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address)
                    != 0) {
            ::close(client);
            return -1;
        }
        return client;
    };
    const int early = connectClient();
    QVERIFY(early >= 0);

    // No descriptor left: the next one the process would get is over the limit.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowestFree);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool stopped = QTest::qWaitFor([&] { return !server->isListening(); }, 2000);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ::close(early);
    QVERIFY2(stopped, "the accept did not fail for want of descriptors");

    // Descriptors are back: the name answers again, and the request is
    // accepted and the connection closed.
    QTRY_VERIFY_WITH_TIMEOUT(server->isListening(), 5000);
    const int later = connectClient();
    QVERIFY(later >= 0);
    char byte = 0;
    QTRY_COMPARE_WITH_TIMEOUT(::recv(later, &byte, 1, MSG_DONTWAIT), ssize_t(0), 3000);
    ::close(later);
}

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
