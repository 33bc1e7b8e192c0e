// The HTTP side of tallow-quoted: requests read within bounds, and the routes
// that answer them from the quote table (sample mode) or the provider gateway.
#pragma once

#include "gateway.h"
#include "quotebook.h"

#include <httplib.h>

#include <functional>
#include <memory>
#include <string>

namespace quoted {

constexpr const char *kQuotePath = "/delayedstockquote/delayedstockquote.asmx/GetQuote";

// What the routes answer from.
struct Service
{
    std::string token; // the LicenseKey every request must carry
    std::function<std::shared_ptr<const Table>()> table; // sample mode
    Gateway *gateway = nullptr; // provider mode, when set
    std::function<void(const std::string &)> log; // one line per request
};

// httplib's server answering the quote protocol from `service`, with its
// connection loop replaced by one that bounds what each request may read.
class Server : public httplib::Server
{
public:
    explicit Server(Service service);

    // httplib listens with a backlog of 5: a burst of connections arriving while
    // the accepting thread waits for a core would see SYNs dropped and retried
    // seconds later. Linux takes a new backlog from a second listen().
    void widenBacklog();

private:
    bool process_and_close_socket(socket_t sock) override;
    void serveQuote(const httplib::Request &req, httplib::Response &res);

    Service m_service;
};

} // namespace quoted
