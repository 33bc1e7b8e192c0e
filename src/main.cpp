#include "app/commandline.h"
#include "app/forms.h"
#include "app/singleinstance.h"
#include "options/form1.h"
#include "options/kiosk.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    CommandLine::Options options;
    if (const int code = CommandLine::handle(argc, argv, options); code >= 0)
        return code;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("example.halvex.TallowMarquee"));
    SingleInstance instance;
    if (!instance.start())
        return 0;
    Forms::form1()->show();
    if (options.kiosk)
        Kiosk::start(options.boxCloseMilliseconds);
    const int code = app.exec();
    Forms::destroyAll();
    return code;
}
