#include "app/commandline.h"
#include "app/forms.h"
#include "app/singleinstance.h"
#include "options/form1.h"
#include "options/kiosk.h"
#include "options/windows.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Without a display Qt's platform plugin aborts; say what is missing instead.
static bool displayFound([[maybe_unused]] int argc, [[maybe_unused]] char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt's own options naming a platform or a display, with one dash or two.
    for (int i = 1; i < argc; ++i) {
        const char *name = std::strncmp(argv[i], "--", 2) == 0 ? argv[i] + 1 : argv[i];
        if (std::strcmp(name, "-platform") == 0 || std::strcmp(name, "-display") == 0)
            return true;
    }
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
#else
    return true;
#endif
}

int main(int argc, char *argv[])
{
    CommandLine::Options options;
    if (const int code = CommandLine::handle(argc, argv, options); code >= 0)
        return code;
    if (!displayFound(argc, argv)) {
        std::fputs("tallow-marquee: no display found (DISPLAY and WAYLAND_DISPLAY are unset).\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("example.halvex.TallowMarquee"));
    SingleInstance instance;
    if (!instance.start())
        return 0;
    Forms::registerWindows();
    Forms::form1()->setStartScreen(CommandLine::screenNamed(options.screen));
    Forms::form1()->show();
    if (options.kiosk)
        Kiosk::start();
    const int code = app.exec();
    Forms::destroyAll();
    return code;
}
