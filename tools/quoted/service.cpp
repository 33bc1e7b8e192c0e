#include "service.h"
#include "platform.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <atomic>
#include <optional>

namespace quoted {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

constexpr std::size_t kMaxRequestBytes = 16 << 10; // request line and headers together
constexpr std::size_t kMaxTargetBytes = 8 << 10;
constexpr std::size_t kMaxBodyBytes = 4 << 10;
constexpr std::size_t kMaxSymbolBytes = 32;
constexpr int kMaxRequestsPerConnection = 100;
constexpr auto kIdleTimeout = std::chrono::seconds(2); // waiting for a request's first byte
constexpr auto kRequestDeadline = std::chrono::seconds(4); // from its first byte to its end
constexpr auto kWriteTimeout = std::chrono::seconds(5);
// Provider-mode requests the cache cannot answer at once wait for the provider here.
constexpr int kWorkers = 32;

void plain(Response &res, http::status status, const std::string &text)
{
    res.result(status);
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.set(http::field::cache_control, "no-store");
    res.body() = text + "\n";
}

void plain(Response &res, int status)
{
    plain(res, http::int_to_status(unsigned(status)),
          std::to_string(status) + " "
                  + std::string(http::obsolete_reason(http::int_to_status(unsigned(status)))));
}

std::string httpDate(std::int64_t unixTime)
{
    return utcText(unixTime, "%a, %d %b %Y %H:%M:%S GMT");
}

std::int64_t unixSeconds(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// A quote reply that shared HTTP caches may keep until the service itself would
// have a newer quote.
void quoteReply(Response &res, std::string xml, std::int64_t maxAge, std::int64_t lastModified)
{
    res.result(http::status::ok);
    res.set(http::field::content_type, "text/xml; charset=utf-8");
    res.set(http::field::cache_control,
            "public, max-age=" + std::to_string(std::max<std::int64_t>(0, maxAge)));
    if (lastModified > 0)
        res.set(http::field::last_modified, httpDate(lastModified));
    res.body() = std::move(xml);
}

// The response to a provider-mode quote from the gateway's answer.
void answerFromGateway(Response &response, const Gateway::Answer &answer)
{
    if (answer.status == 200)
        quoteReply(response, answer.body, answer.maxAge, answer.quoteTime);
    else
        plain(response, http::int_to_status(unsigned(answer.status)), answer.body);
}

// Percent-decoding with '+' for a blank, as HTML forms encode queries.
std::string decodeQueryPart(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::string_view hex = s.substr(i + 1, 2);
        const auto byte = s[i] == '%' && hex.size() == 2 ? parseNumber<unsigned char>(hex, 16)
                                                         : std::nullopt;
        if (byte) {
            out += char(*byte);
            i += 2;
        } else {
            out += s[i] == '+' ? ' ' : s[i];
        }
    }
    return out;
}

// The first value of the query parameter `name`, decoded.
std::optional<std::string> queryValue(std::string_view query, std::string_view name)
{
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const auto eq = item.find('=');
        if (decodeQueryPart(item.substr(0, eq)) == name)
            return decodeQueryPart(eq == std::string_view::npos ? std::string_view()
                                                                : item.substr(eq + 1));
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

bool hasBody(const Request &req)
{
    return req.count(http::field::transfer_encoding) > 0
            || (req.count(http::field::content_length) > 0
                && req[http::field::content_length] != "0");
}

} // namespace

bool headersAcceptable(const Request &req)
{
    int lengths = 0;
    for (const auto &field : req) {
        for (const std::string_view text : {field.name_string(), field.value()})
            for (unsigned char c : text)
                if ((c < 0x20 && c != '\t') || c == 0x7f)
                    return false;
        if (field.name() == http::field::content_length) {
            const std::string_view value = field.value();
            if (++lengths > 1 || value.empty()
                || value.find_first_not_of("0123456789") != std::string_view::npos)
                return false;
        }
    }
    return !(lengths > 0 && req.count(http::field::transfer_encoding) > 0);
}

int unreadableStatus(const boost::system::error_code &ec, std::string_view buffered)
{
    if (ec == http::error::body_limit)
        return 413;
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        // Without a line end in its first 8 KiB, the request line itself is too long.
        return buffered.substr(0, kMaxTargetBytes + 16).find("\r\n") == std::string_view::npos
                ? 414
                : 400;
    if (ec.category() == make_error_code(http::error::bad_method).category()
        && ec != http::error::end_of_stream && ec != http::error::partial_message)
        return 400;
    return 0; // overdue, or the client went away
}

std::string requestLogLine(const Request &request, int status)
{
    return escapeForLog(request.method_string()) + " " + escapeForLog(request.target()) + " "
            + std::to_string(status);
}

Routed route(const Service &service, const Request &req, std::chrono::system_clock::time_point now)
{
    Routed routed;
    Response &res = routed.response;
    res.version(req.version());
    routed.close = hasBody(req); // its bytes are read, but the connection is not trusted further
    const std::string_view target = req.target();
    const std::string_view path = target.substr(0, target.find('?'));
    const std::string_view query
            = path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view();
    if (target.size() > kMaxTargetBytes) {
        plain(res, 414);
    } else if (path != kQuotePath) {
        plain(res, 404);
    } else if (req.method() != http::verb::get && req.method() != http::verb::head) {
        res.set(http::field::allow, "GET, HEAD");
        plain(res, 405);
    } else if (queryValue(query, "LicenseKey") != service.token) {
        plain(res, http::status::forbidden, "403 Forbidden: missing or wrong LicenseKey");
    } else if (const std::string symbol(trimBlanks(queryValue(query, "StockSymbol").value_or("")));
               symbol.empty() || !isPrintableUtf8(symbol)) {
        plain(res, http::status::bad_request,
              "400 Bad Request: StockSymbol is missing or not printable UTF-8");
    } else if (symbol.size() > kMaxSymbolBytes) {
        plain(res, http::status::bad_request,
              "400 Bad Request: StockSymbol is longer than " + std::to_string(kMaxSymbolBytes)
                      + " bytes");
    } else if (service.gateway) {
        routed.quoteSymbol = symbol;
    } else {
        const auto table = service.table();
        const Listing *listing = table->find(symbol);
        const std::int64_t seconds = unixSeconds(now);
        const std::int64_t slot = seconds / kSlotSeconds;
        const Quote quote = listing ? quoteAt(*listing, slot) : Quote{};
        const std::string notice = listing ? kSampleModeNotice : unknownSymbolNotice(symbol);
        quoteReply(res, quoteXml(symbol, listing ? &quote : nullptr, notice),
                   (slot + 1) * kSlotSeconds - seconds, listing ? slot * kSlotSeconds : 0);
    }
    if (res.result_int() == 400 || res.result_int() == 413 || res.result_int() == 414)
        routed.close = true;
    return routed;
}

struct Server::Impl
{
    explicit Impl(Service s) : service(std::move(s)) { }

    void accept();

    Service service;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptPause{io};
    asio::thread_pool workers{kWorkers};
    std::atomic<std::size_t> connections{0};
    const std::size_t maxConnections = connectionLimit();
};

namespace {

// One connection, driven by the polling thread: wait (bounded) for a request's
// first byte, read the request whole within its deadline, answer, repeat.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket socket, Server::Impl &server) : mStream(std::move(socket)), mServer(server)
    {
        ++mServer.connections;
    }
    ~Session() { --mServer.connections; }

    void waitForRequest()
    {
        if (mServed == kMaxRequestsPerConnection)
            return finish();
        if (mBuffer.size() > 0)
            return readHeader();
        // Until a byte comes, the connection holds no buffer beyond this one byte.
        mStream.expires_after(kIdleTimeout);
        mStream.async_read_some(mBuffer.prepare(1),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    if (ec)
                                        return self->close();
                                    self->mBuffer.commit(n);
                                    self->readHeader();
                                });
    }

private:
    void readHeader()
    {
        mParser.emplace();
        mParser->header_limit(kMaxRequestBytes);
        mParser->body_limit(kMaxBodyBytes);
        mStream.expires_after(kRequestDeadline);
        http::async_read_header(mStream, mBuffer, *mParser,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    if (ec)
                                        return self->failed(ec);
                                    if (!headersAcceptable(self->mParser->get()))
                                        return self->refuse(400);
                                    self->readBody();
                                });
    }

    void readBody()
    {
        http::async_read(mStream, mBuffer, *mParser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec)
                                 return self->failed(ec);
                             self->answer();
                         });
    }

    void failed(beast::error_code ec)
    {
        const auto *data = static_cast<const char *>(mBuffer.data().data());
        const int status = unreadableStatus(ec, std::string_view(data, mBuffer.size()));
        if (status == 0)
            return close();
        refuse(status);
    }

    void refuse(int status)
    {
        mRequest = mParser && mParser->is_header_done() ? mParser->get() : Request();
        mResponse = Response();
        plain(mResponse, status);
        mClose = true; // write() then answers with "Connection: close"
        write();
    }

    void answer()
    {
        mRequest = mParser->release();
        Routed routed = route(mServer.service, mRequest, std::chrono::system_clock::now());
        mClose = routed.close || !mRequest.keep_alive();
        mResponse = std::move(routed.response);
        if (routed.quoteSymbol.empty())
            return write();
        Gateway &gateway = *mServer.service.gateway;
        if (const auto cached = gateway.cached(routed.quoteSymbol)) {
            answerFromGateway(mResponse, *cached);
            return write();
        }
        // The provider has to be asked, or asked already: wait for it off the polling thread.
        asio::post(mServer.workers, [self = shared_from_this(), symbol = routed.quoteSymbol] {
            const Gateway::Answer answer = self->mServer.service.gateway->quote(symbol);
            asio::post(self->mStream.get_executor(), [self, answer] {
                answerFromGateway(self->mResponse, answer);
                self->write();
            });
        });
    }

    void write()
    {
        mServer.service.log(requestLogLine(mRequest, static_cast<int>(mResponse.result_int())));
        mResponse.set(http::field::date, httpDate(unixSeconds(std::chrono::system_clock::now())));
        mResponse.keep_alive(!mClose && mServed + 1 < kMaxRequestsPerConnection);
        mResponse.prepare_payload();
        if (mRequest.method() == http::verb::head) {
            const auto length = mResponse.body().size();
            mResponse.body().clear();
            mResponse.content_length(length);
        }
        mStream.expires_after(kWriteTimeout);
        http::async_write(mStream, mResponse,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec)
                                  return self->close();
                              ++self->mServed;
                              if (self->mClose)
                                  return self->finish();
                              self->waitForRequest();
                          });
    }

    // Ends the connection after its last reply. Input the client still sends is
    // read for a moment (bounded), so that closing with unread bytes does not
    // reset the connection before the client has read the reply.
    void finish()
    {
        beast::error_code ignored;
        mStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        mStream.expires_after(std::chrono::milliseconds(1600));
        drain();
    }
    void drain()
    {
        mBuffer.clear();
        mStream.async_read_some(mBuffer.prepare(4096),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    self->mBuffer.commit(n);
                                    if (ec)
                                        return self->close();
                                    self->drain();
                                });
    }

    void close()
    {
        beast::error_code ignored;
        mStream.socket().close(ignored);
    }

    beast::tcp_stream mStream;
    Server::Impl &mServer;
    beast::flat_buffer mBuffer{kMaxRequestBytes + kMaxBodyBytes + 1024};
    std::optional<http::request_parser<http::string_body>> mParser;
    Request mRequest;
    Response mResponse;
    int mServed = 0;
    bool mClose = false;
};

} // namespace

void Server::Impl::accept()
{
    acceptor.async_accept(io, [this](beast::error_code ec, tcp::socket socket) {
        if (!acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors: take a breath instead of spinning on the error.
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](beast::error_code) { accept(); });
            return;
        }
        if (connections < maxConnections) {
            socket.set_option(tcp::no_delay(true), ec);
            std::make_shared<Session>(std::move(socket), *this)->waitForRequest();
        }
        accept();
    });
}

Server::Server(Service service) : mImpl(std::make_unique<Impl>(std::move(service))) { }

Server::~Server()
{
    mImpl->workers.join();
}

bool Server::listen(const std::string &host, int port, std::string &error)
{
    beast::error_code ec;
    tcp::resolver resolver(mImpl->io);
    const auto endpoints
            = resolver.resolve(host, std::to_string(port),
                               tcp::resolver::numeric_service | tcp::resolver::passive, ec);
    if (ec || endpoints.empty()) {
        error = ec ? ec.message() : "no such address";
        return false;
    }
    const tcp::endpoint endpoint = *endpoints.begin();
    auto &acceptor = mImpl->acceptor;
    if (acceptor.open(endpoint.protocol(), ec)
        || !prepareListeningSocket(std::uintptr_t(acceptor.native_handle()), error)
        || acceptor.bind(endpoint, ec)
        || acceptor.listen(asio::socket_base::max_listen_connections, ec)) {
        if (ec)
            error = ec.message();
        acceptor.close(ec);
        return false;
    }
    return true;
}

int Server::port() const
{
    beast::error_code ec;
    return mImpl->acceptor.local_endpoint(ec).port();
}

void Server::run()
{
    mImpl->accept();
    mImpl->io.run();
}

void Server::stop()
{
    asio::post(mImpl->io, [impl = mImpl.get()] {
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->io.stop();
    });
}

} // namespace quoted
