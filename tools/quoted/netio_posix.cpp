#include "netio.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace quoted::netio {

bool waitFor(socket_t sock, bool write, int timeoutMs)
{
    pollfd pfd{sock, short(write ? POLLOUT : POLLIN), 0};
    return ::poll(&pfd, 1, timeoutMs) > 0;
}

long receive(socket_t sock, char *data, std::size_t size)
{
    return long(::recv(sock, data, size, 0));
}

long sendSome(socket_t sock, const char *data, std::size_t size)
{
    return long(::send(sock, data, size, MSG_NOSIGNAL));
}

void address(socket_t sock, bool peer, std::string &ip, int &port)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    const int got = peer ? ::getpeername(sock, reinterpret_cast<sockaddr *>(&addr), &len)
                         : ::getsockname(sock, reinterpret_cast<sockaddr *>(&addr), &len);
    if (got == 0
        && ::getnameinfo(reinterpret_cast<sockaddr *>(&addr), len, host, sizeof host, service,
                         sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
                == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

void shutdownWrite(socket_t sock)
{
    ::shutdown(sock, SHUT_WR);
}

void close(socket_t sock)
{
    ::close(sock);
}

} // namespace quoted::netio
