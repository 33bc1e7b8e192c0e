#pragma once

// The platform's part of the single-instance guard. Plain C++ without Qt, so
// every platform's file builds with that platform's compiler alone.

#include <cstdint>
#include <optional>
#include <string>

namespace SingleInstancePlatform {

// Names the user in the socket's name, in the local 8-bit encoding.
std::string userTag();

// The folder for the socket. `runtimeFolder` is the runtime folder Qt gives
// ("" when it has none or rejected it), `privateFolder` a folder of the
// user's own to make when there is none. "" when the platform's local
// socket names are not paths; nullopt when no folder that only this user can
// write to is found, so the name could be taken by someone else.
std::optional<std::string> socketFolder(const std::string &runtimeFolder,
                                        const std::string &privateFolder);

// True when the program at the other end of the connected local socket
// `descriptor` runs as this user.
bool peerIsThisUser(std::intptr_t descriptor);

} // namespace SingleInstancePlatform
