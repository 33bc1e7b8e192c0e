#include "app/singleinstance.h"

#include "app/singleinstance_platform.h"

#include <QApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

namespace {

const QByteArray RaiseRequest = "raise\n";
constexpr int ConnectMilliseconds = 1000;
constexpr int ListenAgainMilliseconds = 500;
constexpr int ListenAgainMaxMilliseconds = 60'000;

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

void warnListenFailed(const QString &name, const QString &reason)
{
    qWarning().noquote() << QStringLiteral("tallow-marquee: cannot listen on %1 (%2); a second "
                                           "start will open a second window")
                                    .arg(name, reason);
}

// Whether a copy of the program of this user listens on NAME; when `raise`,
// asks it to come to the front. No socket, one left by a killed copy, and
// another user's do not count.
bool reachRunningInstance(const QString &name, bool raise)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    // A running instance that does not take the connection within the time
    // (its queue full, or hung) counts as not running.
    if (!probe.waitForConnected(ConnectMilliseconds))
        return false;
    if (!SingleInstancePlatform::peerIsThisUser(probe.socketDescriptor())) {
        probe.abort();
        return false;
    }
    // The running instance acts on the connection itself; the request is a
    // courtesy, and its loss (the other side already closed) harmless.
    if (raise) {
        probe.write(RaiseRequest);
        probe.waitForBytesWritten(ConnectMilliseconds);
    }
    probe.disconnectFromServer();
    return true;
}

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) { }

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName()
{
    const QString name = QStringLiteral("tallow-marquee-%1-display%2")
                                 .arg(QString::fromLocal8Bit(SingleInstancePlatform::userTag()),
                                      displayName());
    // Without a runtime folder a name in the current or the temporary folder
    // could be taken first by another user: a folder of the user's own takes
    // its place.
    const QString privateFolder
            = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/tallow-marquee");
    const std::optional<std::string> folder = SingleInstancePlatform::socketFolder(
            QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                    .toStdString(),
            QFile::encodeName(privateFolder).toStdString());
    if (!folder)
        return {};
    if (folder->empty())
        return name;
    return QFile::decodeName(QByteArray::fromStdString(*folder)) + QLatin1Char('/') + name;
}

bool SingleInstance::start()
{
    mName = serverName();
    if (mName.isEmpty()) {
        warnListenFailed(QStringLiteral("a local socket"),
                         QStringLiteral("no folder of this user's own for it"));
        return true;
    }
    if (reachRunningInstance(mName, true))
        return false;
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    mServer->installEventFilter(this);
    connect(mServer, &QLocalServer::newConnection, this, &SingleInstance::answerPending);
    if (!listen())
        warnListenFailed(mName, mServer->errorString());
    return true;
}

bool SingleInstance::listen()
{
    // Nothing of this user's answered: whatever socket is there is stale.
    QLocalServer::removeServer(mName);
    return mServer->listen(mName);
}

// The server stops listening for good when it fails to accept a connection,
// as it does while the program has no descriptor left: it then lets go of its
// socket notifier. Listen again a little later, unless another copy took
// the name meanwhile. The request that met the failure is lost; later ones
// are answered.
bool SingleInstance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == mServer && event->type() == QEvent::ChildRemoved && !mServer->isListening()
        && !mListenAgainPending)
        listenAgainLater(ListenAgainMilliseconds);
    return QObject::eventFilter(watched, event);
}

// While listening fails (no descriptor yet), the waits double up to a minute.
void SingleInstance::listenAgainLater(int milliseconds)
{
    mListenAgainPending = true;
    QTimer::singleShot(milliseconds, this, [this, milliseconds] {
        mListenAgainPending = false;
        if (mServer->isListening() || reachRunningInstance(mName, false) || listen())
            return;
        listenAgainLater(qMin(milliseconds * 2, ListenAgainMaxMilliseconds));
    });
}

void SingleInstance::answerPending()
{
    bool answered = false;
    while (QLocalSocket *socket = mServer->nextPendingConnection()) {
        socket->abort();
        socket->deleteLater();
        answered = true;
    }
    if (answered)
        raiseWindows();
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
