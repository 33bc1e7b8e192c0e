#include "platform.h"

#include "gateway.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace quoted {

namespace platform {

namespace {
sigset_t g_stopSignals;
}

std::tm utc(std::time_t when)
{
    std::tm tm{};
    gmtime_r(&when, &tm);
    return tm;
}

void prepareStop()
{
    // SIGINT and SIGTERM are taken by a thread of their own (blocked everywhere
    // else, including the server's worker threads, which inherit this mask).
    sigemptyset(&g_stopSignals);
    sigaddset(&g_stopSignals, SIGINT);
    sigaddset(&g_stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void waitForStop()
{
    int signal = 0;
    sigwait(&g_stopSignals, &signal);
}

void wakeStopWaiter(std::thread &waiter)
{
    pthread_kill(waiter.native_handle(), SIGTERM);
}

void hideOwnConsole() { }

std::string identify(const std::string &path, FileIdentity &identity)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    identity = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
                st.st_mtim.tv_sec,        st.st_mtim.tv_nsec,       st.st_ctim.tv_sec,
                st.st_ctim.tv_nsec};
    return {};
}

} // namespace platform

std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::strerror(errno);
    struct stat st = {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        problem = "not a regular file";
    char buffer[65536];
    while (problem.empty() && out.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit + 1 - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            problem = std::strerror(errno);
        if (n <= 0)
            break;
        out.append(buffer, size_t(n));
    }
    ::close(fd);
    if (problem.empty() && out.size() > limit)
        problem = "larger than " + std::to_string(limit >> 20) + " MiB";
    if (!problem.empty())
        out.clear();
    return problem;
}

} // namespace quoted
