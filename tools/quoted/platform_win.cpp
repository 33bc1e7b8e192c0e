#include "platform.h"

#include "gateway.h"

#include <windows.h>

#include <algorithm>

namespace quoted {

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        SetEvent(g_stop);
        return TRUE;
    default:
        return FALSE;
    }
}

// Paths on the command line are UTF-8 text.
std::wstring wide(const std::string &text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

// The reasons in the words the POSIX build uses, so the logs read the same.
std::string reason(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "Permission denied";
    default:
        return "Windows error " + std::to_string(error);
    }
}

std::int64_t fileTime(const FILETIME &time)
{
    return (std::int64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

namespace platform {

std::tm utc(std::time_t when)
{
    std::tm tm{};
    gmtime_s(&tm, &when);
    return tm;
}

void prepareStop()
{
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void waitForStop()
{
    WaitForSingleObject(g_stop, INFINITE);
}

void wakeStopWaiter(std::thread &)
{
    SetEvent(g_stop);
}

void hideOwnConsole()
{
    DWORD processes[2];
    HWND console = GetConsoleWindow();
    if (console && GetConsoleProcessList(processes, 2) == 1)
        ShowWindow(console, SW_HIDE);
}

std::string identify(const std::string &path, FileIdentity &identity)
{
    // No access asked: only the attributes are read, whatever the sharing.
    HANDLE file = CreateFileW(wide(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return reason(GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok)
        return reason(error);
    // FILETIME counts 100 ns steps: the seconds part and the rest in ns.
    const std::int64_t written = fileTime(info.ftLastWriteTime);
    const std::int64_t created = fileTime(info.ftCreationTime);
    identity = {info.dwVolumeSerialNumber,
                (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                written / 10000000,
                written % 10000000 * 100,
                created / 10000000,
                created % 10000000 * 100};
    return {};
}

} // namespace platform

std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out)
{
    out.clear();
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return reason(GetLastError());
    // Judged by what was opened: pipes and devices are refused unread.
    std::string problem;
    if (GetFileType(file) != FILE_TYPE_DISK)
        problem = "not a regular file";
    char buffer[65536];
    while (problem.empty() && out.size() <= limit) {
        DWORD n = 0;
        const DWORD want = DWORD(std::min(sizeof buffer, limit + 1 - out.size()));
        if (!ReadFile(file, buffer, want, &n, nullptr)) {
            problem = reason(GetLastError());
            break;
        }
        if (n == 0)
            break;
        out.append(buffer, n);
    }
    CloseHandle(file);
    if (problem.empty() && out.size() > limit)
        problem = "larger than " + std::to_string(limit >> 20) + " MiB";
    if (!problem.empty())
        out.clear();
    return problem;
}

} // namespace quoted
