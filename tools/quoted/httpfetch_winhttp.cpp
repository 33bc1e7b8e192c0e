#include "httpfetch.h"
#include "platform_win.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>

namespace quoted {

namespace {

// A WinHTTP handle, closed when it goes out of scope.
using Handle = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;

// One request's state, shared with WinHTTP's callbacks. WinHTTP may call back
// after fetchOverHttp() gave up at its deadline, so the state lives until the
// request handle is closed for good (its HANDLE_CLOSING).
struct Exchange
{
    std::mutex mutex;
    std::condition_variable changed;
    DWORD finished = 0; // the status that ended the step under way, 0 while it runs
    DWORD error = 0; // the failure of that step
    DWORD secureFlags = 0; // which checks of the server's certificate failed
    DWORD bytesRead = 0;
    char buffer[16384];
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    if (!context)
        return;
    // WinHTTP hands the context set for the request back as an integer.
    auto *owner
            = reinterpret_cast<std::shared_ptr<Exchange> *>( // NOLINT(performance-no-int-to-ptr)
                    context);
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        delete owner;
        return;
    }
    Exchange &exchange = **owner;
    const std::lock_guard lock(exchange.mutex);
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (information && length >= sizeof(DWORD))
            exchange.secureFlags = *static_cast<DWORD *>(information);
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        exchange.error = static_cast<WINHTTP_ASYNC_RESULT *>(information)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        exchange.bytesRead = length;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
    default:
        return;
    }
    exchange.finished = status;
    exchange.changed.notify_all();
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
        return "SSL connect error: the secure connection failed (handshake or certificate)";
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

ProviderReply fetchOverHttp(const std::string &url)
{
    ProviderReply reply;
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::milliseconds(kProviderTimeoutMs);
    const auto elapsedMs = [started] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                .count();
    };

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

    const auto exchange = std::make_shared<Exchange>();
    const auto fail = [&](DWORD code) {
        const std::lock_guard lock(exchange->mutex);
        reply.failure = failureText(code, hostText, port, elapsedMs(), exchange->secureFlags);
        reply.body.clear();
        return reply;
    };

    // The requests run asynchronously so that one deadline bounds the whole
    // exchange: WinHTTP's own timeouts bound each step (and are not kept
    // everywhere). The system's proxy settings apply, except to this computer.
    const Handle session(WinHttpOpen(L"tallow-quoted",
                                     isLoopback(host) ? WINHTTP_ACCESS_TYPE_NO_PROXY
                                                      : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                     WINHTTP_FLAG_ASYNC),
                         WinHttpCloseHandle);
    if (!session) {
        reply.failure = "cannot start a request";
        return reply;
    }
    const int timeout = int(kProviderTimeoutMs);
    WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout);
    const Handle connection(WinHttpConnect(session.get(), host.c_str(), INTERNET_PORT(port), 0),
                            WinHttpCloseHandle);
    if (!connection)
        return fail(GetLastError());
    const Handle request(
            WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                               parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0),
            WinHttpCloseHandle);
    if (!request)
        return fail(GetLastError());

    // The callbacks hold the state through a pointer of their own, freed when
    // the request handle closes.
    auto *owner = new std::shared_ptr<Exchange>(exchange);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(owner);
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)
        || WinHttpSetStatusCallback(request.get(), onStatus,
                                    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS
                                            | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE
                                            | WINHTTP_CALLBACK_FLAG_HANDLES,
                                    0)
                == WINHTTP_INVALID_STATUS_CALLBACK) {
        const DWORD code = GetLastError();
        delete owner;
        return fail(code);
    }

    // No redirects, cookies or sign-ins: one plain request, answered or not.
    // Certificate checks stay as WinHTTP has them: all on. Compressed replies
    // are decoded where WinHTTP can; the decoded bytes count to the limit.
    DWORD disabled
            = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_ALL;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression,
                     sizeof decompression);

    // Starts one step and waits for its end: 0, or why it failed.
    const auto step = [&](auto start) -> DWORD {
        std::unique_lock lock(exchange->mutex);
        exchange->finished = exchange->error = 0;
        lock.unlock();
        if (!start())
            return GetLastError();
        lock.lock();
        if (!exchange->changed.wait_until(lock, deadline, [&] { return exchange->finished; }))
            return ERROR_WINHTTP_TIMEOUT;
        return exchange->error;
    };
    if (const DWORD error = step([&] {
            return WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                      WINHTTP_NO_REQUEST_DATA, 0, 0, context);
        }))
        return fail(error);
    if (const DWORD error = step([&] { return WinHttpReceiveResponse(request.get(), nullptr); }))
        return fail(error);

    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail(GetLastError());
    wchar_t retryAfter[128] = L"";
    size = sizeof retryAfter;
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                            retryAfter, &size, WINHTTP_NO_HEADER_INDEX))
        reply.retryAfter = retryAfterSeconds(retryAfter);

    // A declared length over the limit is refused before reading any of it.
    constexpr const char *kTooLarge = "reply over 1 MiB refused";
    DWORD declared = 0;
    size = sizeof declared;
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX)
        && declared > kMaxProviderReply) {
        reply.failure = kTooLarge;
        return reply;
    }
    for (;;) {
        if (const DWORD error = step([&] {
                return WinHttpReadData(request.get(), exchange->buffer, sizeof exchange->buffer,
                                       nullptr);
            }))
            return fail(error);
        const std::lock_guard lock(exchange->mutex);
        const DWORD n = exchange->bytesRead;
        if (n == 0)
            break;
        if (reply.body.size() + n > kMaxProviderReply) {
            reply.body.clear();
            reply.failure = kTooLarge;
            return reply;
        }
        reply.body.append(exchange->buffer, n);
    }
    reply.status = long(status);
    return reply;
}

} // namespace quoted
