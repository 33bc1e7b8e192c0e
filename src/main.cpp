#include "app/forms.h"
#include "options/form1.h"
#include "options/windows.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Forms::registerWindows();
    Forms::form1()->show();
    const int code = app.exec();
    Forms::destroyAll();
    return code;
}
