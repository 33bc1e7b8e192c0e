#include "app/singleinstance.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QByteArray RaiseRequest = "raise\n";
constexpr int ConnectMilliseconds = 1000;

QString userName()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

QString displayName()
{
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = QStringLiteral("default");
    // ":0.0" and "wayland-0" become parts of a file name.
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    return display.replace(unsafe, QStringLiteral("_"));
}

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) { }

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName()
{
    const QString name
            = QStringLiteral("tallow-marquee-%1-display%2").arg(userName(), displayName());
#ifdef Q_OS_UNIX
    // The runtime folder belongs to the user alone, so no one else can take
    // the name first.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!folder.isEmpty())
        return folder + QLatin1Char('/') + name;
#endif
    return name;
}

bool SingleInstance::start()
{
    const QString name = serverName();
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(ConnectMilliseconds)) {
        probe.write(RaiseRequest);
        probe.waitForBytesWritten(ConnectMilliseconds);
        probe.disconnectFromServer();
        return false;
    }
    // Nothing answered: whatever socket file is there is stale.
    QLocalServer::removeServer(name);
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!mServer->listen(name)) {
        qWarning().noquote() << QStringLiteral("tallow-marquee: cannot listen on %1 (%2); a "
                                               "second start will open a second window")
                                        .arg(name, mServer->errorString());
        return true;
    }
    connect(mServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = mServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            raiseWindows();
        }
    });
    return true;
}

void SingleInstance::raiseWindows()
{
    QWidget *target = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !window->isWindow())
            continue;
        if (window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->raise();
        if (!target || window->isActiveWindow())
            target = window;
    }
    if (QWidget *modal = QApplication::activeModalWidget())
        target = modal;
    if (target)
        target->activateWindow();
}
