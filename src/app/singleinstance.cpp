#include "app/singleinstance.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#else
#include <QLocalServer>
#include <QLocalSocket>
#endif

namespace {

const QByteArray RaiseRequest = "raise\n";
constexpr int ConnectMilliseconds = 1000;
constexpr int AcceptRetryMilliseconds = 500;

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

#ifdef Q_OS_UNIX
// Fills in the socket address for PATH; false when the path does not fit.
bool socketAddress(const QByteArray &path, sockaddr_un &address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

// Asks the instance listening at ADDRESS to come to the front. False when
// nothing listens there (no file, or one left by a killed instance).
bool askRunningInstance(const sockaddr_un &address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A running instance that does not take the connection within the time
    // (its queue full, or hung) counts as not running.
    const timeval limit{ConnectMilliseconds / 1000, (ConnectMilliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        // The running instance acts on the connection itself; the request is
        // a courtesy, and its loss (the other side already closed) harmless.
        ::send(fd, RaiseRequest.constData(), size_t(RaiseRequest.size()), MSG_NOSIGNAL);
    }
    ::close(fd);
    return result == 0;
}
#endif

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) { }

SingleInstance::~SingleInstance()
{
#ifdef Q_OS_UNIX
    if (mListener >= 0) {
        delete mNotifier;
        ::close(mListener);
        ::unlink(mPath.constData());
    }
#endif
}

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

void SingleInstance::listenFailed(const QString &name, const QString &reason)
{
    qWarning().noquote() << QStringLiteral("tallow-marquee: cannot listen on %1 (%2); a second "
                                           "start will open a second window")
                                    .arg(name, reason);
}

#ifdef Q_OS_UNIX

bool SingleInstance::start()
{
    const QString name = serverName();
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address;
    if (!socketAddress(path, address)) {
        listenFailed(name, QStringLiteral("the path is too long for a socket"));
        return true;
    }
    if (askRunningInstance(address))
        return false;

    // Nothing answered: whatever socket file is there is stale.
    ::unlink(path.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        listenFailed(name, QString::fromLocal8Bit(std::strerror(errno)));
        return true;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0
        || ::chmod(path.constData(), S_IRUSR | S_IWUSR) < 0 || ::listen(fd, SOMAXCONN) < 0) {
        const int error = errno;
        ::close(fd);
        listenFailed(name, QString::fromLocal8Bit(std::strerror(error)));
        return true;
    }
    mListener = fd;
    mPath = path;
    mNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &SingleInstance::acceptPending);
    return true;
}

void SingleInstance::acceptPending()
{
    bool accepted = false;
    for (;;) {
        const int connection = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors or memory: the request stays queued and
                // the notifier would fire again at once, a busy loop. Look
                // again a little later instead (the later start has already
                // gone on: it only waits for the connection, not the answer).
                mNotifier->setEnabled(false);
                QTimer::singleShot(AcceptRetryMilliseconds, mNotifier,
                                   [notifier = mNotifier] { notifier->setEnabled(true); });
            }
            break; // EAGAIN: the queue is empty
        }
        ::close(connection);
        accepted = true;
    }
    if (accepted)
        raiseWindows();
}

#else

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
    // Nothing answered: whatever socket is there is stale.
    QLocalServer::removeServer(name);
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!mServer->listen(name)) {
        listenFailed(name, mServer->errorString());
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

#endif

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
