// What tallow-quoted needs from the operating system besides sockets, one
// implementation per platform (POSIX, Windows).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <thread>

namespace quoted::platform {

// The broken-down UTC time of `when`.
std::tm utc(std::time_t when);

// Stop requests: SIGINT and SIGTERM on POSIX, Ctrl+C, closing the console and
// logging off on Windows. prepareStop() must run before any thread starts.
void prepareStop();
// Returns at a stop request, or once wakeStopWaiter() is called for this thread.
void waitForStop();
void wakeStopWaiter(std::thread &waiter);

// Started on its own (at log-on, or from a file manager) the service runs
// without a window: a console opened only for this process is hidden. One
// shared with a shell stays. Does nothing where there are no such consoles.
void hideOwnConsole();

// What identifies a file's content without reading it: device, file number,
// size and the modification and change times. Equal identities are taken as
// the same content.
struct FileIdentity
{
    std::uint64_t device = 0, file = 0, size = 0;
    std::int64_t modified = 0, modifiedNs = 0, changed = 0, changedNs = 0;
    bool operator==(const FileIdentity &) const = default;
};

// Fills `identity`; on failure returns the reason (as strerror would give it).
std::string identify(const std::string &path, FileIdentity &identity);

} // namespace quoted::platform
