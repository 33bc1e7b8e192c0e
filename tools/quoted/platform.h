// What tallow-quoted needs from the operating system, one function per need:
// platform_posix.cpp implements them (and readRegularFile() of quotebook.h) for
// Linux and other POSIX systems, platform_win.cpp for Windows; CMake builds the
// one that fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace quoted {

// The calendar time in UTC of `when`.
std::tm utcCalendar(std::time_t when);

// The program's arguments as UTF-8 (Windows hands them over in the local code
// page; POSIX systems as given).
std::vector<std::string> utf8Arguments(int argc, char **argv);

// What identifies a file's content without reading it: which file it is, its
// size and when it or its metadata last changed. Equal stamps mean "unchanged".
struct FileStamp
{
    std::uint64_t device = 0, file = 0;
    std::int64_t size = 0, modified = 0, changed = 0;
    bool operator==(const FileStamp &) const = default;
};

// The stamp of `path`, or nothing with the reason in `error`.
std::optional<FileStamp> fileStamp(const std::string &path, std::string &error);

// Why others than its owner could read `path`, or empty when only the owner can
// (or when the system offers no cheap way to tell).
std::string exposedToOthers(const std::string &path);

// Keeps crash dumps and other users' debuggers away from the memory that holds
// the provider's key, where the system allows it.
void protectMemory();

// Sets the listening socket `handle` up before it binds: a restarted service can
// bind while connections of the old one linger, but no second program may bind
// the same address and port. Returns false with the reason in `error`.
bool prepareListeningSocket(std::uintptr_t handle, std::string &error);

// How many connections the service may hold open at once.
std::size_t connectionLimit();

// Prepares the process to serve; call before any thread starts. Standard error
// is written through at once, and stop requests (Ctrl+C and the system's
// requests to end) are held for waitForStopRequest() instead of ending the
// process on the spot.
void prepareToServe();

// Called once the service listens. A console window opened for the service
// alone (on Windows, when started at log-on or from Explorer) is hidden: the
// service goes on in the background until asked to stop.
void serving();

// Blocks until the user or the system asks the service to stop.
void waitForStopRequest();

} // namespace quoted
