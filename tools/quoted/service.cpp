#include "service.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>

namespace quoted {

namespace {

constexpr size_t kMaxRequestBytes = 16 << 10; // request line, headers and body together
// One connection holds a worker while it is read, so there are enough workers
// for many slow or idle clients, and each request must arrive whole within
// kRequestDeadline however slowly its bytes trickle in.
constexpr int kWorkers = 128;
constexpr auto kRequestDeadline = std::chrono::seconds(4);

// Request targets come from the network: escape anything that could forge or
// break a log line.
std::string printable(std::string_view s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out.empty() ? "-" : out;
}

const char *reason(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    default:
        return status < 500 ? "Client Error" : "Server Error";
    }
}

// Set while a request is handled when its connection must not be reused: after
// malformed or oversized input, or when a request body was left unread, since
// its bytes would otherwise be taken for the next request.
thread_local bool t_closeAfterResponse = false;

// A buffered socket stream that lets each request read at most kMaxRequestBytes.
// httplib 0.11 accepts any number of header lines and request lines of any
// length; past the budget this stream reports end of input, which httplib
// answers with 414 (request line) or 400 (headers) instead of growing memory.
class BoundedStream : public httplib::Stream
{
public:
    BoundedStream(int sock, int timeoutMs) : m_sock(sock), m_timeoutMs(timeoutMs) { }

    void startRequest()
    {
        m_budget = kMaxRequestBytes;
        m_deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    }
    bool exhausted() const { return m_budget == 0; }
    bool waitForRequest(int timeoutMs) const { return buffered() || waitFor(POLLIN, timeoutMs); }

    bool is_readable() const override
    {
        if (buffered())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                m_deadline - std::chrono::steady_clock::now());
        return left.count() > 0 && waitFor(POLLIN, std::min<int>(m_timeoutMs, int(left.count())));
    }
    bool is_writable() const override { return waitFor(POLLOUT, m_timeoutMs); }
    ssize_t read(char *ptr, size_t size) override
    {
        if (m_budget == 0)
            return 0;
        if (!buffered()) {
            if (!is_readable())
                return -1;
            const ssize_t n = ::recv(m_sock, m_buffer, sizeof m_buffer, 0);
            if (n <= 0)
                return n;
            m_begin = 0;
            m_end = size_t(n);
        }
        const size_t n = std::min({size, m_end - m_begin, m_budget});
        std::memcpy(ptr, m_buffer + m_begin, n);
        m_begin += n;
        m_budget -= n;
        return ssize_t(n);
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        return is_writable() ? ::send(m_sock, ptr, size, MSG_NOSIGNAL) : -1;
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        address(::getsockname, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    bool buffered() const { return m_begin < m_end; }
    bool waitFor(short events, int timeoutMs) const
    {
        pollfd pfd{m_sock, events, 0};
        return ::poll(&pfd, 1, timeoutMs) > 0;
    }
    void address(int (*query)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        char host[NI_MAXHOST], service[NI_MAXSERV];
        if (query(m_sock, reinterpret_cast<sockaddr *>(&addr), &len) == 0
            && ::getnameinfo(reinterpret_cast<sockaddr *>(&addr), len, host, sizeof host, service,
                             sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
                    == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    int m_sock, m_timeoutMs;
    char m_buffer[4096];
    size_t m_begin = 0, m_end = 0, m_budget = kMaxRequestBytes;
    std::chrono::steady_clock::time_point m_deadline;
};

void plain(httplib::Response &res, int status, const std::string &text)
{
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

} // namespace

Server::Server(Service service) : m_service(std::move(service))
{
    new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    set_payload_max_length(4096);
    set_tcp_nodelay(true); // headers and body go out in separate writes
    set_read_timeout(5);
    set_write_timeout(5);
    set_keep_alive_timeout(2);
    set_keep_alive_max_count(100);

    // httplib routes by regular expression: escape the dot of ".asmx".
    const std::string route = std::regex_replace(kQuotePath, std::regex("\\."), "\\.");
    Get(route,
        [this](const httplib::Request &req, httplib::Response &res) { serveQuote(req, res); });
    const auto notAllowed = [](const httplib::Request &, httplib::Response &res) {
        res.set_header("Allow", "GET, HEAD");
        plain(res, 405, "405 Method Not Allowed");
    };
    // httplib reads request bodies only for POST, PUT, PATCH and DELETE, and only
    // when a length or chunked encoding is given. Those requests are answered by
    // routes once their body is read; all others are decided here.
    set_pre_routing_handler([notAllowed](const httplib::Request &req, httplib::Response &res) {
        const bool hasBody
                = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
        if (hasBody
            && (req.method == "POST" || req.method == "PUT" || req.method == "PATCH"
                || req.method == "DELETE"))
            return httplib::Server::HandlerResponse::Unhandled;
        if (hasBody)
            t_closeAfterResponse = true; // the body stays unread
        if (req.path != kQuotePath)
            plain(res, 404, "404 Not Found");
        else if (req.method != "GET" && req.method != "HEAD")
            notAllowed(req, res);
        else
            return httplib::Server::HandlerResponse::Unhandled;
        return httplib::Server::HandlerResponse::Handled;
    });
    Post(route, notAllowed).Put(route, notAllowed).Patch(route, notAllowed);
    Delete(route, notAllowed);
    set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.status == 400 || res.status == 413 || res.status == 414)
            t_closeAfterResponse = true;
        if (res.body.empty())
            plain(res, res.status, std::to_string(res.status) + " " + reason(res.status));
    });
    set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        plain(res, 500, "500 Internal Server Error");
    });
    set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        m_service.log(printable(req.method) + " " + printable(req.target) + " "
                      + std::to_string(res.status));
    });
}

void Server::widenBacklog()
{
    ::listen(svr_sock_, SOMAXCONN);
}

bool Server::process_and_close_socket(socket_t sock)
{
    BoundedStream stream(sock, int(read_timeout_sec_ * 1000));
    t_closeAfterResponse = false;
    bool ok = true;
    for (size_t count = keep_alive_max_count_; count > 0 && ok; --count) {
        if (svr_sock_ == INVALID_SOCKET
            || !stream.waitForRequest(int(keep_alive_timeout_sec_ * 1000)))
            break;
        stream.startRequest();
        bool closed = false;
        ok = process_request(stream, count == 1, closed, nullptr) && !closed && !stream.exhausted()
                && !t_closeAfterResponse;
    }
    ::shutdown(sock, SHUT_WR);
    // Read what the client still sends for a moment (bounded), so that closing
    // with unread input does not reset the connection before it has the reply.
    if (stream.exhausted() || t_closeAfterResponse) {
        char sink[4096];
        pollfd pfd{sock, POLLIN, 0};
        int reads = 16;
        while (reads-- > 0 && ::poll(&pfd, 1, 100) > 0 && ::recv(sock, sink, sizeof sink, 0) > 0) {
        }
    }
    ::close(sock);
    return ok;
}

void Server::serveQuote(const httplib::Request &req, httplib::Response &res)
{
    if (!req.has_param("LicenseKey") || req.get_param_value("LicenseKey") != m_service.token)
        return plain(res, 403, "403 Forbidden: missing or wrong LicenseKey");
    const std::string symbol(trimBlanks(req.get_param_value("StockSymbol")));
    if (symbol.empty() || !isPrintableUtf8(symbol))
        return plain(res, 400, "400 Bad Request: StockSymbol is missing or not printable UTF-8");

    res.set_header("Cache-Control", "no-store");
    if (m_service.gateway) {
        const Gateway::Answer answer = m_service.gateway->quote(symbol);
        if (answer.status != 200)
            return plain(res, answer.status, answer.body);
        return res.set_content(answer.body, "text/xml; charset=utf-8");
    }
    const auto table = m_service.table();
    const Listing *listing = table->find(symbol);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::int64_t slot
            = std::chrono::duration_cast<std::chrono::seconds>(now).count() / kSlotSeconds;
    const Quote quote = listing ? quoteAt(*listing, slot) : Quote{};
    const std::string notice = listing ? kSampleModeNotice : unknownSymbolNotice(symbol);
    res.set_content(quoteXml(symbol, listing ? &quote : nullptr, notice),
                    "text/xml; charset=utf-8");
}

} // namespace quoted
