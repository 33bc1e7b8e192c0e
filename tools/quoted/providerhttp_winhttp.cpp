#include "gateway.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <memory>

// Provider requests over WinHTTP, which checks certificates against the
// system's store and needs nothing beside the program.

namespace quoted {

namespace {

std::wstring wide(const std::string &text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t *text, std::size_t length)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), n, nullptr, nullptr);
    return out;
}

// WinHTTP's message for its error code, with the number (some systems have
// no message texts at all).
std::string failureText(DWORD error)
{
    wchar_t *message = nullptr;
    const DWORD length
            = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE
                                     | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"winhttp.dll"), error, 0,
                             reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    std::string text = message && length ? narrow(message, length) : std::string();
    if (message)
        LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const std::string code = "WinHTTP error " + std::to_string(error);
    return text.empty() ? code : text + " (" + code + ")";
}

struct HandleCloser
{
    void operator()(void *handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

ProviderReply fetchOverHttp(const std::string &url, long timeoutMs)
{
    ProviderReply reply;
    const auto fail = [&reply](std::string why) {
        reply.failure = std::move(why);
        reply.status = 0;
        reply.body.clear();
        return reply;
    };

    const std::wstring target = wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength
            = DWORD(-1);
    if (!WinHttpCrackUrl(target.c_str(), DWORD(target.size()), 0, &parts))
        return fail(failureText(GetLastError()));
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return fail("only http and https are allowed");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    Handle session(WinHttpOpen(L"tallow-quoted", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return fail(failureText(GetLastError()));
    const int timeout = int(std::clamp<long>(timeoutMs, 1, 0x7fffffff));
    WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout);
    Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection)
        return fail(failureText(GetLastError()));
    Handle request(
            WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                               parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
        return fail(failureText(GetLastError()));
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                     sizeof(noRedirects));
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
        || !WinHttpReceiveResponse(request.get(), nullptr))
        return fail(failureText(GetLastError()));

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail(failureText(GetLastError()));

    wchar_t retryAfter[128] = {};
    size = sizeof(retryAfter) - sizeof(wchar_t);
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                            retryAfter, &size, WINHTTP_NO_HEADER_INDEX)) {
        std::string value = narrow(retryAfter, size / sizeof(wchar_t));
        const auto first = value.find_first_not_of(" \t");
        const auto last = value.find_last_not_of(" \t\r\n");
        reply.retryAfter = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }

    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof(buffer), &got))
            return fail(failureText(GetLastError()));
        if (got == 0)
            break;
        if (reply.body.size() + got > kMaxProviderReply)
            return fail("reply over 1 MiB refused");
        reply.body.append(buffer, got);
    }
    reply.status = long(status);
    return reply;
}

void initProviderHttp() { }

std::optional<std::time_t> parseHttpDate(const std::string &text)
{
    SYSTEMTIME when{};
    if (!WinHttpTimeToSystemTime(wide(text).c_str(), &when))
        return std::nullopt;
    FILETIME stamp{};
    if (!SystemTimeToFileTime(&when, &stamp))
        return std::nullopt;
    // FILETIME counts 100 ns steps from 1601; Unix time counts seconds from 1970.
    const std::int64_t ticks
            = (std::int64_t(stamp.dwHighDateTime) << 32) | std::int64_t(stamp.dwLowDateTime);
    const std::time_t at = std::time_t(ticks / 10000000 - 11644473600LL);
    return at > 0 ? std::optional(at) : std::nullopt;
}

} // namespace quoted
