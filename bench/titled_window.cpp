// An empty window with a title bar, the size of the options window: the
// start-up of any decorated top-level window, to set beside the shared floor's
// frameless full-screen one and the options window in measure-startup.sh.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Titled"));
    // 8040 x 5445 twips at 96 dpi, as the options window.
    window.setFixedSize(536, 363);
    window.show();
    return app.exec();
}
