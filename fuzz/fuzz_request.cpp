// The quote service's side of a request: the bytes of one request read by the
// same parser, limits and header checks a connection uses, then the service's
// routing, its checks of the token and symbol, the reply and the request log
// (sample mode, from memory).
#include "fuzzcheck.h"
#include "quotebook.h"
#include "service.h"

#include <boost/beast/http/parser.hpp>

#include <QXmlStreamReader>

#include <cstdlib>

namespace quoted {
extern const std::string_view kBuiltInQuotes;
}

namespace {

using namespace quoted;

const std::string Token = "tlwmqe";
Service *gService = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::vector<std::string> problems;
    auto table = std::make_shared<const Table>(*parseTable(kBuiltInQuotes, problems));
    gService = new Service{Token, [table] { return table; }, nullptr, [](const std::string &) {}};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 << 10);
    parser.body_limit(4 << 10);
    parser.eager(true);
    boost::system::error_code ec;
    parser.put(boost::asio::buffer(input.data(), input.size()), ec);
    if (ec == http::error::need_more || (!ec && !parser.is_done()))
        return 0; // a connection would wait for more
    int status = 0;
    Request request;
    bool close = true;
    if (ec) {
        status = unreadableStatus(ec, input);
        if (status == 0)
            return 0;
        CHECK(status == 400 || status == 413 || status == 414, std::to_string(status));
    } else if (!headersAcceptable(parser.get())) {
        status = 400;
    } else {
        request = parser.release();
        Routed routed = route(*gService, request, std::chrono::system_clock::now());
        CHECK(routed.quoteSymbol.empty(), routed.quoteSymbol); // no gateway here
        status = routed.response.result_int();
        close = routed.close;
        // A quote comes only for the quote path with the right token, and is
        // well-formed QuoteData naming a printable symbol.
        if (status == 200) {
            const std::string target(request.target());
            CHECK(target.rfind(kQuotePath, 0) == 0, target);
            CHECK(target.find("LicenseKey") != std::string::npos, target);
            QXmlStreamReader reader(QByteArray::fromStdString(routed.response.body()));
            CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("QuoteData"),
                  routed.response.body());
            CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("StockSymbol"),
                  routed.response.body());
            const std::string symbol = reader.readElementText().toStdString();
            CHECK(!symbol.empty() && symbol.size() <= 32 && isPrintableUtf8(symbol),
                  routed.response.body());
            while (reader.readNextStartElement())
                reader.skipCurrentElement();
            reader.readNext();
            CHECK(!reader.hasError() && reader.atEnd(), routed.response.body());
        }
    }
    // Malformed and oversized requests end their connection.
    CHECK(!(status == 400 || status == 413 || status == 414) || close, std::to_string(status));

    // The log line of the request, which nothing from the request can break or forge.
    const std::string line = requestLogLine(request, status);
    for (unsigned char c : line)
        CHECK(c >= 0x20 && c < 0x7f, line);
    return 0;
}
