#include "platform.h"
#include "quotebook.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace quoted {

namespace {

sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

std::tm utcCalendar(std::time_t when)
{
    std::tm tm{};
    gmtime_r(&when, &tm);
    return tm;
}

std::vector<std::string> utf8Arguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::optional<FileStamp> fileStamp(const std::string &path, std::string &error)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    constexpr std::int64_t kNs = 1000000000;
    return FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                     st.st_mtim.tv_sec * kNs + st.st_mtim.tv_nsec,
                     st.st_ctim.tv_sec * kNs + st.st_ctim.tv_nsec};
}

std::string exposedToOthers(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        return "can be read by others than its owner; make it private with chmod 600";
    return {};
}

void protectMemory()
{
    // A core dump or a debugger attached by another user must not find the key.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

bool prepareListeningSocket(std::uintptr_t handle, std::string &error)
{
    // SO_REUSEADDR lets a restart bind while old connections linger; unlike
    // SO_REUSEPORT it never lets a second service share a listening port.
    const int on = 1;
    if (::setsockopt(int(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::size_t connectionLimit()
{
    // Each connection is a descriptor: allow as many as the system lets us have.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 1000;
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 1 << 16);
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
    return files.rlim_cur > 128 ? std::size_t(files.rlim_cur) - 64 : 64;
}

void prepareToServe()
{
    // SIGINT and SIGTERM are taken by waitForStopRequest() alone: blocked in
    // every thread, which all inherit this mask from the one that starts them.
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void serving() { }

void waitForStopRequest()
{
    const sigset_t signals = stopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
}

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
