#include "app/singleinstance_platform.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SingleInstancePlatform {

std::string userTag()
{
    return std::to_string(::geteuid());
}

// The folder itself, not what a link there points to, must be a directory of
// this user that no one else may write to: a folder another user made first,
// or a link into theirs, would hand the socket's name to them.
static bool isOwnPrivateFolder(const std::string &folder)
{
    struct stat status;
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid())
        return false;
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::chmod(folder.c_str(), S_IRWXU) != 0)
        return false;
    return true;
}

std::optional<std::string> socketFolder(const std::string &runtimeFolder,
                                        const std::string &privateFolder)
{
    if (!runtimeFolder.empty())
        return runtimeFolder;
    if (privateFolder.empty() || privateFolder.front() != '/')
        return std::nullopt;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(privateFolder).parent_path(),
                                        ignored);
    if (::mkdir(privateFolder.c_str(), S_IRWXU) != 0 && errno != EEXIST)
        return std::nullopt;
    if (!isOwnPrivateFolder(privateFolder))
        return std::nullopt;
    return privateFolder;
}

bool peerIsThisUser(std::intptr_t descriptor)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
            && size == sizeof peer && peer.uid == ::geteuid();
}

} // namespace SingleInstancePlatform
