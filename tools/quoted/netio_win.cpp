#include "netio.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace quoted::netio {

bool waitFor(socket_t sock, bool write, int timeoutMs)
{
    WSAPOLLFD pfd{sock, short(write ? POLLOUT : POLLIN), 0};
    return ::WSAPoll(&pfd, 1, timeoutMs) > 0;
}

long receive(socket_t sock, char *data, std::size_t size)
{
    return ::recv(sock, data, int(std::min<std::size_t>(size, INT_MAX)), 0);
}

long sendSome(socket_t sock, const char *data, std::size_t size)
{
    // Winsock raises no signal on a closed peer.
    return ::send(sock, data, int(std::min<std::size_t>(size, INT_MAX)), 0);
}

void address(socket_t sock, bool peer, std::string &ip, int &port)
{
    sockaddr_storage addr{};
    int len = sizeof addr;
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
    ::shutdown(sock, SD_SEND);
}

void close(socket_t sock)
{
    ::closesocket(sock);
}

} // namespace quoted::netio
