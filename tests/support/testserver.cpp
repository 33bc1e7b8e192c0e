#include "testserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace {

const int PollMs = 50;
const int MaxHeadBytes = 16 * 1024;

// A TCP socket bound to 127.0.0.1 on a free port.
int boundSocket(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback socket");
    port = ntohs(address.sin_port);
    return fd;
}

// Waits for input in slices, so that a stopping server is never stuck.
bool readable(int fd, const std::atomic<bool> &stopping)
{
    pollfd entry{fd, POLLIN, 0};
    while (!stopping) {
        if (::poll(&entry, 1, PollMs) > 0)
            return true;
    }
    return false;
}

} // namespace

bool Connection::send(const QByteArray &data)
{
    qsizetype sent = 0;
    while (sent < data.size() && !mStopping) {
        const ssize_t n = ::send(mSocket, data.constData() + sent, size_t(data.size() - sent),
                                 MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return sent == data.size();
}

void Connection::reset()
{
    const linger abortive{1, 0};
    ::setsockopt(mSocket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

void Connection::hold()
{
    char buffer[512];
    while (readable(mSocket, mStopping) && ::recv(mSocket, buffer, sizeof buffer, 0) > 0) { }
}

TestServer::TestServer(Responder respond) : mRespond(std::move(respond))
{
    mListener = boundSocket(mPort);
    if (::listen(mListener, 8) != 0)
        throw std::runtime_error("cannot listen on a loopback socket");
    mThread = std::thread([this] { run(); });
}

TestServer::~TestServer()
{
    mStopping = true;
    mThread.join();
    ::close(mListener);
}

QByteArrayList TestServer::heads() const
{
    std::lock_guard lock(mMutex);
    return mHeads;
}

void TestServer::run()
{
    std::vector<std::thread> connections;
    while (readable(mListener, mStopping)) {
        const int fd = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            connections.emplace_back([this, fd] { serve(fd); });
    }
    for (std::thread &connection : connections)
        connection.join();
}

void TestServer::serve(int fd)
{
    // A client that stops reading cannot block the server for long.
    const timeval sendLimit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    Connection connection(fd, mStopping);
    char buffer[1024];
    while (!connection.head.contains("\r\n\r\n") && connection.head.size() < MaxHeadBytes
           && readable(fd, mStopping)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        connection.head.append(buffer, n);
    }
    {
        std::lock_guard lock(mMutex);
        mHeads.append(connection.head);
    }
    mRespond(connection);
    ::close(fd);
}

RefusingPort::RefusingPort()
{
    mSocket = boundSocket(mPort);
}

RefusingPort::~RefusingPort()
{
    ::close(mSocket);
}
