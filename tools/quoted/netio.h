// The socket calls of the bounded request reader, one implementation per
// platform (BSD sockets, Winsock).
#pragma once

#include <httplib.h>

#include <cstddef>
#include <string>

namespace quoted::netio {

// True when the socket becomes readable (or writable) within timeoutMs.
bool waitFor(socket_t sock, bool write, int timeoutMs);

// recv() and send() of at most `size` bytes; -1 on failure, 0 at the end of
// input. A send to a closed peer fails instead of raising a signal.
long receive(socket_t sock, char *data, std::size_t size);
long sendSome(socket_t sock, const char *data, std::size_t size);

// The numeric address and port of the peer (or of this end).
void address(socket_t sock, bool peer, std::string &ip, int &port);

void shutdownWrite(socket_t sock);
void close(socket_t sock);

} // namespace quoted::netio
