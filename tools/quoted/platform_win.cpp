#include "platform_win.h"
#include "platform.h"
#include "quotebook.h"

#include <winsock2.h>

#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace quoted {

namespace {

// Set by Ctrl+C, by closing the console, by taskkill and by the end of the
// session; waited for by waitForStopRequest().
HANDLE stopRequested = nullptr;

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back(); // the terminating NUL
    return out;
}

// The words for a Windows error code; the common ones in the words the POSIX
// build prints, so that the log reads alike on both.
std::string systemError(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
        return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "in use by another program";
    case WSAEADDRINUSE:
        return "Address already in use";
    default:
        break;
    }
    char *text = nullptr;
    const DWORD length
            = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                     | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length > 0 && text ? std::string(text, length) : std::string();
    LocalFree(text);
    message.erase(message.find_last_not_of(" .\r\n") + 1);
    return message.empty() ? "system error " + std::to_string(code) : message;
}

LRESULT CALLBACK stopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: // taskkill without /F
        SetEvent(stopRequested);
        return 0;
    case WM_ENDSESSION:
        if (wParam)
            SetEvent(stopRequested);
        return 0;
    default: // WM_QUERYENDSESSION too: the default lets the session end
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

BOOL WINAPI consoleControl(DWORD)
{
    // Ctrl+C, Ctrl+Break, the console closed, log-off and shut-down alike. For
    // the last three the system ends the process soon after this returns; the
    // service holds nothing that would need saving first.
    SetEvent(stopRequested);
    return TRUE;
}

} // namespace

std::wstring wide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

std::tm utcCalendar(std::time_t when)
{
    std::tm tm{};
    gmtime_s(&tm, &when);
    return tm;
}

std::vector<std::string> utf8Arguments(int argc, char **argv)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    out.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        out.push_back(utf8(arguments[i]));
    LocalFree(arguments);
    return out;
}

std::optional<FileStamp> fileStamp(const std::string &path, std::string &error)
{
    // Asking for no access at all only reads the metadata, and never stands in
    // the way of a program writing or replacing the file.
    const HANDLE file = CreateFileW(wide(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError(GetLastError());
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    std::optional<FileStamp> stamp;
    if (GetFileInformationByHandle(file, &info)
        && GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        stamp = FileStamp{info.dwVolumeSerialNumber,
                          (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                          (std::int64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                          basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
    else
        error = systemError(GetLastError());
    CloseHandle(file);
    return stamp;
}

std::string exposedToOthers(const std::string &)
{
    // Who may read a file here is up to its access-control list, and the
    // folders of a user's profile are private to that user unless changed.
    // Judging an arbitrary list is beyond a start-up check; nothing is said.
    return {};
}

void protectMemory()
{
    // Other users' programs cannot read this process's memory without
    // administrator rights, and Windows has no per-process switch that keeps
    // crash dumps away; there is nothing to do here.
}

bool prepareListeningSocket(std::uintptr_t handle, std::string &error)
{
    // Windows lets a socket with SO_REUSEADDR bind an address in use by
    // another; SO_EXCLUSIVEADDRUSE refuses that, and a listening port freed by
    // a stopped service can be bound again at once without either.
    const BOOL on = TRUE;
    if (setsockopt(SOCKET(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char *>(&on), sizeof on)
        != 0) {
        error = systemError(DWORD(WSAGetLastError()));
        return false;
    }
    return true;
}

std::size_t connectionLimit()
{
    // Sockets are not counted against a descriptor table here: keep to the
    // bound the POSIX build reaches on a generous system.
    return (1 << 16) - 64;
}

void prepareToServe()
{
    // The log is read line by line while the service runs (by people and by
    // programs reading a pipe): nothing may wait in a buffer.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(consoleControl, TRUE);
}

void serving()
{
    // A console of its own means nobody started the service from a console
    // window they use (it came from the log-on entry or Explorer): keep the
    // window out of the way. Started from a console, the log stays there.
    DWORD processes[2] = {};
    if (GetConsoleProcessList(processes, 2) == 1)
        if (const HWND console = GetConsoleWindow())
            ShowWindow(console, SW_HIDE);
}

void waitForStopRequest()
{
    // A hidden top-level window: taskkill asks a program to end by closing its
    // windows, and the end of the session comes to windows too.
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = stopWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"tallow-quoted";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"tallow-quoted", 0, 0, 0, 0,
                                        0, nullptr, nullptr, windowClass.hInstance, nullptr);
    while (MsgWaitForMultipleObjects(1, &stopRequested, FALSE, INFINITE, QS_ALLINPUT)
           == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (window)
        DestroyWindow(window);
}

std::string readRegularFile(const std::string &path, std::size_t limit, std::string &out)
{
    out.clear();
    const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder cannot be opened this way at all.
        const DWORD attributes = GetFileAttributesW(wide(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "not a regular file";
        return systemError(code);
    }
    std::string problem;
    // Pipes, consoles and devices are judged by the handle, before any read.
    if (GetFileType(file) != FILE_TYPE_DISK)
        problem = "not a regular file";
    char buffer[65536];
    while (problem.empty() && out.size() <= limit) {
        DWORD n = 0;
        const DWORD want = DWORD(std::min(sizeof buffer, limit + 1 - out.size()));
        if (!ReadFile(file, buffer, want, &n, nullptr))
            problem = systemError(GetLastError());
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
