#include "httpfetch.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace quoted {

namespace {

std::wstring wide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

// Closes a WinHTTP handle when it goes out of scope.
class Handle
{
public:
    explicit Handle(HINTERNET handle) : mHandle(handle) { }
    ~Handle()
    {
        if (mHandle)
            WinHttpCloseHandle(mHandle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    operator HINTERNET() const { return mHandle; }

private:
    HINTERNET mHandle;
};

// Which checks of the server's certificate failed, as reported to the status
// callback before the request fails with ERROR_WINHTTP_SECURE_FAILURE.
void CALLBACK noteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                                DWORD length)
{
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information
        && length >= sizeof(DWORD))
        *reinterpret_cast<DWORD *>(context) = *static_cast<DWORD *>(information);
}

std::string certificateProblem(DWORD flags)
{
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return "SSL certificate problem: not issued by a trusted certificate authority";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return "SSL: the certificate's name does not match the host name";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return "SSL certificate problem: certificate has expired or is not yet valid";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED)
        return "SSL certificate problem: certificate revoked";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED)
        return "SSL certificate problem: revocation status unknown";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT)
        return "SSL certificate problem: invalid certificate";
    return "SSL connect error: the secure connection failed";
}

// WinHTTP's own messages are not everywhere (Wine has bare numbers): the
// common failures in words, in the style of the libcurl build. Only the host
// and port appear, never the path or query that carry the key.
std::string failureText(DWORD code, const std::string &host, int port, long long elapsedMs,
                        DWORD secureFlags)
{
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
        return "Operation timed out after " + std::to_string(elapsedMs) + " milliseconds";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "Could not resolve host: " + host;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "Failed to connect to " + host + " port " + std::to_string(port);
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "Connection reset or closed by " + host;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
        return "Weird server reply: not valid HTTP";
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return "URL rejected: malformed input";
    case ERROR_WINHTTP_SECURE_FAILURE:
        return certificateProblem(secureFlags);
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA);
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID);
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID);
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED);
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED);
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        return certificateProblem(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT);
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return "SSL connect error: the TLS handshake failed";
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return "SSL connect error: the server wants a client certificate";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Out of memory";
    default:
        return "WinHTTP error " + std::to_string(code);
    }
}

// A Retry-After value as seconds: kept when it is a number, else read as an
// HTTP date and turned into the seconds until then (empty when unreadable).
std::string retryAfterSeconds(const std::wstring &header)
{
    std::string value;
    for (wchar_t c : header)
        value += c < 0x80 ? char(c) : '?';
    const auto first = value.find_first_not_of(" \t");
    const auto last = value.find_last_not_of(" \t\r\n");
    value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    if (value.empty() || value.find_first_not_of("0123456789") == std::string::npos)
        return value;
    SYSTEMTIME time{};
    FILETIME file{};
    if (!WinHttpTimeToSystemTime(header.c_str(), &time) || !SystemTimeToFileTime(&time, &file))
        return {};
    // FILETIME counts 100 ns since 1601; the Unix epoch is 11644473600 s later.
    const std::int64_t ticks
            = std::int64_t((std::uint64_t(file.dwHighDateTime) << 32) | file.dwLowDateTime);
    const std::int64_t at = ticks / 10000000 - 11644473600LL;
    return at > 0 ? std::to_string(std::max<std::int64_t>(1, at - std::time(nullptr)))
                  : std::string();
}

bool isLoopback(const std::wstring &host)
{
    return host == L"127.0.0.1" || host == L"localhost" || host == L"::1" || host == L"[::1]";
}

} // namespace

void startFetching() { }

ProviderReply fetchOverHttp(const std::string &url, long timeoutMs)
{
    ProviderReply reply;
    const auto started = std::chrono::steady_clock::now();
    const auto elapsedMs = [started] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                .count();
    };
    // WinHTTP bounds each step, not the whole request: each step gets the time
    // that is left, so that together they keep to `timeoutMs`.
    const auto timeLeft = [&] { return int(std::max<long long>(0, timeoutMs - elapsedMs())); };

    const std::wstring wideUrl = wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), DWORD(wideUrl.size()), 0, &parts)
        || (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        || parts.dwHostNameLength == 0) {
        reply.failure = "URL rejected: malformed input";
        return reply;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength)
                                          : std::wstring();
    if (parts.lpszExtraInfo)
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty() || path.front() != L'/')
        path.insert(0, L"/");
    std::string hostText;
    for (wchar_t c : host)
        hostText += c < 0x80 ? char(c) : '?';
    const int port = parts.nPort;

    DWORD secureFlags = 0;
    const auto fail = [&](DWORD code) {
        reply.failure = failureText(code, hostText, port, elapsedMs(), secureFlags);
        reply.status = 0;
        reply.body.clear();
        return reply;
    };

    // The system's proxy settings apply, except to this computer itself.
    const Handle session(WinHttpOpen(L"tallow-quoted",
                                     isLoopback(host) ? WINHTTP_ACCESS_TYPE_NO_PROXY
                                                      : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        reply.failure = "cannot start a request";
        return reply;
    }
    const Handle connection(WinHttpConnect(session, host.c_str(), INTERNET_PORT(port), 0));
    if (!connection)
        return fail(GetLastError());
    const Handle request(
            WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                               parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
        return fail(GetLastError());

    // No redirects, cookies or sign-ins: one plain request, answered or not.
    // Certificate checks stay as WinHTTP has them: all on. Compressed replies
    // are decoded where WinHTTP can; the decoded bytes count to the limit.
    DWORD disabled
            = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_ALL;
    WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secureFlags);
    WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(request, noteSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);

    const auto bound = [&](DWORD option) {
        DWORD ms = DWORD(std::max(1, timeLeft()));
        WinHttpSetOption(request, option, &ms, sizeof ms);
    };
    const int left = std::max(1, timeLeft());
    WinHttpSetTimeouts(request, left, left, left, left);
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0))
        return fail(GetLastError());
    if (timeLeft() == 0)
        return fail(ERROR_WINHTTP_TIMEOUT);
    bound(WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT);
    bound(WINHTTP_OPTION_RECEIVE_TIMEOUT);
    if (!WinHttpReceiveResponse(request, nullptr))
        return fail(GetLastError());

    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail(GetLastError());
    wchar_t retryAfter[128] = L"";
    size = sizeof retryAfter;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                            retryAfter, &size, WINHTTP_NO_HEADER_INDEX))
        reply.retryAfter = retryAfterSeconds(retryAfter);

    // A declared length over the limit is refused before reading any of it.
    constexpr const char *kTooLarge = "reply over 1 MiB refused";
    DWORD declared = 0;
    size = sizeof declared;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX)
        && declared > kMaxProviderReply) {
        reply.failure = kTooLarge;
        return reply;
    }
    char buffer[16384];
    for (;;) {
        if (timeLeft() == 0)
            return fail(ERROR_WINHTTP_TIMEOUT);
        bound(WINHTTP_OPTION_RECEIVE_TIMEOUT);
        DWORD n = 0;
        if (!WinHttpReadData(request, buffer, sizeof buffer, &n))
            return fail(GetLastError());
        if (n == 0)
            break;
        if (reply.body.size() + n > kMaxProviderReply) {
            reply.body.clear();
            reply.failure = kTooLarge;
            return reply;
        }
        reply.body.append(buffer, n);
    }
    reply.status = long(status);
    return reply;
}

} // namespace quoted
