#include "app/singleinstance_platform.h"

#include <cstdlib>

namespace SingleInstancePlatform {

std::string userTag()
{
    const char *name = std::getenv("USERNAME");
    return name ? name : "";
}

// Local sockets are named pipes here, whose names are not paths; the pipe
// itself admits only this user.
std::optional<std::string> socketFolder(const std::string &, const std::string &)
{
    return std::string();
}

bool peerIsThisUser(std::intptr_t)
{
    return true;
}

} // namespace SingleInstancePlatform
