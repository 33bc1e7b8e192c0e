// The HTTP side of tallow-quoted: requests read within bounds on one polling
// thread, and the routes that answer them from the quote table (sample mode) or
// the provider gateway.
#pragma once

#include "gateway.h"
#include "quotebook.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quoted {

constexpr const char *kQuotePath = "/delayedstockquote/delayedstockquote.asmx/GetQuote";

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// What the routes answer from.
struct Service
{
    std::string token; // the LicenseKey every request must carry
    std::function<std::shared_ptr<const Table>()> table; // sample mode
    Gateway *gateway = nullptr; // provider mode, when set
    std::function<void(const std::string &)> log; // one line per request
};

// How a request is to be answered.
struct Routed
{
    Response response; // complete, unless `quoteSymbol` is set
    std::string quoteSymbol; // provider mode: the symbol to ask the gateway for
    bool close = false; // the connection must close after the response
};

// Decides a request whose headers and body have been read. Everything but a
// provider-mode quote is answered here; `now` is the wall-clock time.
Routed route(const Service &service, const Request &request,
             std::chrono::system_clock::time_point now);

// The checks the parser leaves to us: one Content-Length of digits only, never
// beside a Transfer-Encoding, and no control bytes in any header. A request
// that fails them is answered 400 and its connection closed.
bool headersAcceptable(const Request &request);

// The status for a request the parser gave up on with `error` (`buffered` is
// what the connection holds): 400, 413 or 414, or 0 when the connection is
// just closed (the client went away or overran its deadline).
int unreadableStatus(const boost::system::error_code &error, std::string_view buffered);

// The request log line: method, target (both escaped) and status.
std::string requestLogLine(const Request &request, int status);

// The listening server: one thread polls every connection, so idle and slow
// clients cost a socket and a few hundred bytes each, never a thread; provider
// requests that have to wait for the provider run on a pool of workers.
class Server
{
public:
    explicit Server(Service service);
    ~Server();

    // Binds and listens; false with `error` set when the address is taken or unusable.
    bool listen(const std::string &host, int port, std::string &error);
    int port() const;
    // Serves until stop() is called (from any thread).
    void run();
    void stop();

    struct Impl; // the listener, the polling thread's loop and the workers

private:
    std::unique_ptr<Impl> mImpl;
};

} // namespace quoted
