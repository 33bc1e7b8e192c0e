// tallow-quoted: a small local delayed-quote service for tallow-marquee.
// It answers the GetQuote request of the quote protocol from a CSV table whose
// prices take a deterministic ten-minute random walk (sample mode), or with
// delayed quotes fetched from a market-data provider through a cache.

#include "gateway.h"
#include "quotebook.h"

#include <curl/curl.h>

#include <httplib.h>

#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#ifndef QUOTE_SERVICE_TOKEN
#define QUOTE_SERVICE_TOKEN "tlwmqe"
#endif
#ifndef TALLOW_VERSION
#define TALLOW_VERSION "unknown"
#endif

namespace quoted {
extern const std::string_view kBuiltInQuotes; // quotes.csv, compiled in
}

namespace {

using namespace quoted;

constexpr const char *kQuotePath = "/delayedstockquote/delayedstockquote.asmx/GetQuote";
constexpr std::size_t kMaxDataFileSize = 16 << 20;
constexpr std::size_t kMaxKeyFileSize = 4096;
constexpr size_t kMaxRequestBytes = 16 << 10; // request line, headers and body together
// One connection holds a worker while it is read, so there are enough workers
// for many slow or idle clients, and each request must arrive whole within
// kRequestDeadline however slowly its bytes trickle in.
constexpr int kWorkers = 128;
constexpr auto kRequestDeadline = std::chrono::seconds(4);
constexpr long kProviderTimeoutMs = 10000;
constexpr const char *kKeyVariable = "TALLOW_QUOTED_API_KEY";
constexpr const char *kSampleNotice
        = "tallow-quoted: sample mode: the prices served are simulated, not real quotes";

const char *const kUsage
        = "Usage: tallow-quoted [OPTION]...\n"
          "\n"
          "Serves delayed stock quotes for tallow-marquee over HTTP: simulated prices\n"
          "(sample mode), or real delayed quotes fetched from a market-data provider.\n"
          "\n"
          "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:8780; IPv6 as\n"
          "                        [::1]:8780); port 0 picks a free port\n"
          "  --token TOKEN         LicenseKey that requests must carry "
          "(default " QUOTE_SERVICE_TOKEN ")\n"
          "  --source NAME         where quotes come from: sample (the default: simulated\n"
          "                        prices), finnhub, alphavantage or twelvedata\n"
          "  --data FILE           sample mode: serve FILE (CSV: symbol,previous_close[,last])\n"
          "                        instead of the built-in table; changes are picked up\n"
          "                        while running\n"
          "  --api-key-file FILE   provider mode: the provider's API key is the first line\n"
          "                        of FILE; without this option it is taken from the\n"
          "                        environment variable TALLOW_QUOTED_API_KEY\n"
          "  --source-url URL      provider mode: the provider's base URL (default: its\n"
          "                        public HTTPS address)\n"
          "  --cache SECONDS       provider mode: ask the provider at most once per symbol\n"
          "                        in this many seconds (default 60)\n"
          "  --max-stale SECONDS   provider mode: when the provider fails, serve a quote up\n"
          "                        to this old (default 900), else answer 503\n"
          "  -h, --help            show this help and exit\n"
          "  --version             show the version and exit\n"
          "\n"
          "Exit status: 0 when stopped by SIGINT or SIGTERM, 1 when the address cannot be\n"
          "bound or the data file is unusable at start, 2 for bad arguments or a missing\n"
          "API key.\n";

// Writes one line to standard error, prefixed with the UTC time. A single fwrite
// keeps lines from concurrent requests whole.
void logLine(const std::string &message)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &tm);
    const std::string line = stamp + message + '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

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

// The table being served. With a data file, every request checks the file's
// identity, size and modification time and reloads it when any changed; a file
// that is missing or unusable leaves the last good table in place.
class QuoteSource
{
public:
    explicit QuoteSource(std::string path) : m_path(std::move(path)) { }

    bool load()
    {
        if (m_path.empty()) {
            std::vector<std::string> problems;
            auto table = parseTable(kBuiltInQuotes, problems);
            for (const auto &problem : problems)
                logLine("built-in table: " + problem);
            if (table)
                m_table = std::make_shared<Table>(std::move(*table));
            return m_table != nullptr;
        }
        current();
        return m_table != nullptr;
    }

    std::shared_ptr<const Table> current()
    {
        if (m_path.empty())
            return m_table;
        std::lock_guard lock(m_mutex);
        struct stat st = {};
        if (::stat(m_path.c_str(), &st) != 0) {
            if (!m_missing)
                logLine("data file " + m_path + ": " + std::strerror(errno)
                        + "; keeping the last good data");
            m_missing = true;
            return m_table;
        }
        m_missing = false;
        const Signature sig{st.st_dev,         st.st_ino,          st.st_size,
                            st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
                            st.st_ctim.tv_nsec};
        if (sig == m_seen)
            return m_table;
        m_seen = sig;

        // What stat saw is only a hint: the file may have been swapped since.
        std::string text;
        const std::string failure = readRegularFile(m_path, kMaxDataFileSize, text);
        std::vector<std::string> problems;
        auto table = failure.empty() ? parseTable(text, problems) : std::nullopt;
        for (const auto &problem : problems)
            logLine("data file " + m_path + ": " + problem);
        if (!table) {
            logLine("data file " + m_path + " is unusable"
                    + (failure.empty() ? std::string() : " (" + failure + ")")
                    + "; keeping the last good data");
            return m_table;
        }
        logLine("loaded " + std::to_string(table->bySymbol.size()) + " symbols from " + m_path);
        m_table = std::make_shared<Table>(std::move(*table));
        return m_table;
    }

private:
    struct Signature
    {
        dev_t dev;
        ino_t ino;
        off_t size;
        std::time_t mtime;
        long mtimeNs;
        std::time_t ctime;
        long ctimeNs;
        bool operator==(const Signature &) const = default;
    };

    std::string m_path;
    std::mutex m_mutex;
    std::shared_ptr<const Table> m_table;
    std::optional<Signature> m_seen;
    bool m_missing = false;
};

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

// httplib's server with its connection loop replaced by one over BoundedStream.
class Server : public httplib::Server
{
public:
    // httplib listens with a backlog of 5: a burst of connections arriving while
    // the accepting thread waits for a core would see SYNs dropped and retried
    // seconds later. Linux takes a new backlog from a second listen().
    void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }

private:
    bool process_and_close_socket(socket_t sock) override
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
            ok = process_request(stream, count == 1, closed, nullptr) && !closed
                    && !stream.exhausted() && !t_closeAfterResponse;
        }
        ::shutdown(sock, SHUT_WR);
        // Read what the client still sends for a moment (bounded), so that closing
        // with unread input does not reset the connection before it has the reply.
        if (stream.exhausted() || t_closeAfterResponse) {
            char sink[4096];
            pollfd pfd{sock, POLLIN, 0};
            int reads = 16;
            while (reads-- > 0 && ::poll(&pfd, 1, 100) > 0
                   && ::recv(sock, sink, sizeof sink, 0) > 0) { }
        }
        ::close(sock);
        return ok;
    }
};

void plain(httplib::Response &res, int status, const std::string &text)
{
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

struct Options
{
    std::string host = "127.0.0.1";
    int port = 8780;
    std::string token = QUOTE_SERVICE_TOKEN;
    std::string dataFile;
    std::optional<Provider> provider; // none: sample mode
    std::string keyFile, sourceUrl;
    std::chrono::seconds cache{60}, maxStale{900};
};

// Parses "ADDR:PORT" or "[IPv6]:PORT".
bool parseListen(std::string_view value, Options &options)
{
    const auto colon = value.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == value.size()
        || value.size() - colon > 6)
        return false;
    std::string host(value.substr(0, colon));
    if (host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int port = 0;
    for (char c : value.substr(colon + 1)) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + (c - '0');
    }
    if (host.empty() || port > 65535)
        return false;
    options.host = host;
    options.port = port;
    return true;
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "tallow-quoted: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parseSeconds(const std::string &value, std::chrono::seconds &out)
{
    long long seconds = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec != std::errc() || end != value.data() + value.size() || seconds < 0
        || seconds > 365 * 86400)
        return false;
    out = std::chrono::seconds(seconds);
    return true;
}

// Returns the exit code to stop with, or -1 to go on.
int parseArguments(int argc, char **argv, Options &options)
{
    static const std::set<std::string_view> withValue
            = {"--listen",     "--token", "--data",      "--source",
               "--source-url", "--cache", "--max-stale", "--api-key-file"};
    std::set<std::string_view> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("tallow-quoted " TALLOW_VERSION "\n", stdout);
            return 0;
        }
        if (!withValue.count(arg) || i + 1 == argc)
            return usageError("unknown option or missing value: " + std::string(arg));
        if (!seen.insert(arg).second)
            return usageError("option given twice: " + std::string(arg));
        const std::string value = argv[++i];
        if (arg == "--listen" && !parseListen(value, options))
            return usageError("--listen wants ADDR:PORT, got " + value);
        if (arg == "--token") {
            if (value.empty() || !isPrintableUtf8(value))
                return usageError("--token wants non-empty printable text");
            options.token = value;
        }
        if (arg == "--data")
            options.dataFile = value;
        if (arg == "--source" && value != "sample" && !(options.provider = providerNamed(value)))
            return usageError("--source wants sample, finnhub, alphavantage or twelvedata, got "
                              + value);
        if (arg == "--api-key-file")
            options.keyFile = value;
        if (arg == "--source-url") {
            if ((value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)
                || !isPrintableUtf8(value) || value.find(' ') != std::string::npos)
                return usageError("--source-url wants an http:// or https:// URL");
            options.sourceUrl = value;
        }
        if (arg == "--cache" && !parseSeconds(value, options.cache))
            return usageError("--cache wants a number of seconds, got " + value);
        if (arg == "--max-stale" && !parseSeconds(value, options.maxStale))
            return usageError("--max-stale wants a number of seconds, got " + value);
    }
    if (options.provider && seen.count("--data"))
        return usageError("--data serves sample mode only; a provider source cannot take it");
    for (const char *providerOption : {"--api-key-file", "--source-url", "--cache", "--max-stale"})
        if (!options.provider && seen.count(providerOption))
            return usageError(std::string(providerOption) + " needs a provider --source");
    return -1;
}

// The provider's key: the first line of the key file, trimmed, or the
// environment variable. Returns an empty key after printing why there is none.
std::string loadApiKey(const Options &options)
{
    std::string text;
    if (!options.keyFile.empty()) {
        const std::string failure = readRegularFile(options.keyFile, kMaxKeyFileSize, text);
        if (!failure.empty()) {
            std::fprintf(stderr, "tallow-quoted: cannot read the API key file %s: %s\n",
                         options.keyFile.c_str(), failure.c_str());
            return {};
        }
        text = text.substr(0, text.find('\n'));
    } else if (const char *variable = std::getenv(kKeyVariable)) {
        text = variable;
    }
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    const std::string key
            = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    const std::string where = options.keyFile.empty()
            ? std::string("the environment variable ") + kKeyVariable
            : "the API key file " + options.keyFile;
    if (key.empty())
        std::fprintf(stderr,
                     "tallow-quoted: --source %s needs an API key: %s is missing or empty "
                     "(give --api-key-file FILE or set %s)\n",
                     providerName(*options.provider), where.c_str(), kKeyVariable);
    else if (!isPrintableUtf8(key))
        std::fprintf(stderr, "tallow-quoted: %s holds control characters\n", where.c_str());
    return isPrintableUtf8(key) ? key : std::string();
}

void serveQuote(const httplib::Request &req, httplib::Response &res, const Options &options,
                QuoteSource &source, Gateway *gateway)
{
    if (!req.has_param("LicenseKey") || req.get_param_value("LicenseKey") != options.token)
        return plain(res, 403, "403 Forbidden: missing or wrong LicenseKey");
    const std::string symbol = req.get_param_value("StockSymbol");
    if (symbol.empty() || !isPrintableUtf8(symbol))
        return plain(res, 400, "400 Bad Request: StockSymbol is missing or not printable UTF-8");

    res.set_header("Cache-Control", "no-store");
    if (gateway) {
        const Gateway::Answer answer = gateway->quote(symbol);
        if (answer.status != 200)
            return plain(res, answer.status, answer.body);
        return res.set_content(answer.body, "text/xml; charset=utf-8");
    }
    const auto table = source.current();
    const Listing *listing = table->find(symbol);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::int64_t slot
            = std::chrono::duration_cast<std::chrono::seconds>(now).count() / kSlotSeconds;
    const Quote quote = listing ? quoteAt(*listing, slot) : Quote{};
    res.set_content(quoteXml(symbol, listing ? &quote : nullptr), "text/xml; charset=utf-8");
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const int code = parseArguments(argc, argv, options); code >= 0)
        return code;

    curl_global_init(CURL_GLOBAL_DEFAULT); // before any thread starts
    QuoteSource source(options.dataFile);
    std::unique_ptr<Gateway> gateway;
    if (options.provider) {
        Gateway::Settings settings{*options.provider,
                                   options.sourceUrl.empty() ? defaultProviderUrl(*options.provider)
                                                             : options.sourceUrl,
                                   loadApiKey(options), options.cache, options.maxStale};
        if (settings.key.empty())
            return 2;
        logLine(std::string("tallow-quoted: serving delayed quotes from ")
                + providerName(*options.provider) + " at " + redact(settings.baseUrl, settings.key)
                + " (cache " + std::to_string(settings.cache.count()) + " s, stale quotes up to "
                + std::to_string(settings.maxStale.count()) + " s)");
        gateway = std::make_unique<Gateway>(
                std::move(settings),
                [](const std::string &url) { return fetchOverHttp(url, kProviderTimeoutMs); },
                [] { return std::chrono::steady_clock::now(); }, logLine);
    } else {
        if (!source.load()) {
            std::fprintf(stderr, "tallow-quoted: no usable quote table %s\n",
                         options.dataFile.c_str());
            return 1;
        }
        logLine(kSampleNotice);
    }

    // SIGINT and SIGTERM are taken by a thread of their own (blocked everywhere
    // else, including the server's worker threads, which inherit this mask).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_payload_max_length(4096);
    server.set_tcp_nodelay(true); // headers and body go out in separate writes
    server.set_read_timeout(5);
    server.set_write_timeout(5);
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(100);

    // httplib routes by regular expression: escape the dot of ".asmx".
    const std::string route = std::regex_replace(kQuotePath, std::regex("\\."), "\\.");
    server.Get(route, [&](const httplib::Request &req, httplib::Response &res) {
        serveQuote(req, res, options, source, gateway.get());
    });
    const auto notAllowed = [](const httplib::Request &, httplib::Response &res) {
        res.set_header("Allow", "GET, HEAD");
        plain(res, 405, "405 Method Not Allowed");
    };
    // httplib reads request bodies only for POST, PUT, PATCH and DELETE, and only
    // when a length or chunked encoding is given. Those requests are answered by
    // routes once their body is read; all others are decided here.
    server.set_pre_routing_handler(
            [notAllowed](const httplib::Request &req, httplib::Response &res) {
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
    server.Post(route, notAllowed).Put(route, notAllowed).Patch(route, notAllowed);
    server.Delete(route, notAllowed);
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.status == 400 || res.status == 413 || res.status == 414)
            t_closeAfterResponse = true;
        if (res.body.empty())
            plain(res, res.status, std::to_string(res.status) + " " + reason(res.status));
    });
    server.set_exception_handler(
            [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
                plain(res, 500, "500 Internal Server Error");
            });
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        logLine(printable(req.method) + " " + printable(req.target) + " "
                + std::to_string(res.status));
    });

    const int port = options.port == 0 ? server.bind_to_any_port(options.host)
            : server.bind_to_port(options.host, options.port) ? options.port
                                                              : -1;
    if (port < 0) {
        std::fprintf(stderr, "tallow-quoted: cannot listen on %s:%d\n", options.host.c_str(),
                     options.port);
        return 1;
    }
    server.widenBacklog();
    const bool v6 = options.host.find(':') != std::string::npos;
    std::fprintf(stderr, "listening on %s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(),
                 v6 ? "]" : "", port);

    // stop() has no effect until the server runs, so keep asking until it has ended.
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool ok = server.listen_after_bind();
    finished = true;
    pthread_kill(stopper.native_handle(), SIGTERM); // wakes the stopper if no signal came
    stopper.join();
    return ok ? 0 : 1;
}
