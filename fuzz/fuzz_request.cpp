// The quote service's side of a request: the request line, the headers and
// the query decoded by httplib, then the service's routing, its checks of the
// token and symbol, the reply and the request log. The bytes of one request
// are served from memory by the service's own routes (sample mode).
#include "fuzzcheck.h"
#include "quotebook.h"
#include "service.h"

#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quoted {
extern const std::string_view kBuiltInQuotes;
}

namespace {

using namespace quoted;

// One connection's bytes: the request comes from memory, the reply goes to memory.
class MemoryStream final : public httplib::Stream
{
public:
    explicit MemoryStream(std::string_view input) : m_input(input) { }

    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char *ptr, size_t size) override
    {
        const size_t n = std::min(size, m_input.size() - m_at);
        std::memcpy(ptr, m_input.data() + m_at, n);
        m_at += n;
        return ssize_t(n);
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        output.append(ptr, size);
        return ssize_t(size);
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        ip = "127.0.0.1";
        port = 8780;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    std::string output;

private:
    std::string_view m_input;
    size_t m_at = 0;
};

class FuzzServer final : public Server
{
public:
    using httplib::Server::process_request;
    using Server::Server;
};

const std::string Token = "tlwmqe";
FuzzServer *gServer = nullptr;
std::vector<std::string> gLogged;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::vector<std::string> problems;
    auto table = std::make_shared<const Table>(*parseTable(kBuiltInQuotes, problems));
    gServer = new FuzzServer({Token, [table] { return table; }, nullptr,
                              [](const std::string &line) { gLogged.push_back(line); }});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    MemoryStream stream(input);
    gLogged.clear();
    bool closed = false;
    gServer->process_request(stream, true, closed, nullptr);

    // Every request logs at most one line, which nothing from the request can
    // break or forge.
    CHECK(gLogged.size() <= 1, std::to_string(gLogged.size()));
    for (const std::string &line : gLogged)
        for (unsigned char c : line)
            CHECK(c >= 0x20 && c < 0x7f, line);

    const std::string &reply = stream.output;
    if (reply.empty())
        return 0; // nothing that reads as a request came
    static const QRegularExpression statusLine(
            QStringLiteral("^HTTP/1\\.1 (\\d{3}) [^\\r\\n]*\\r\\n"));
    const auto match = statusLine.match(QString::fromLatin1(reply.data(), qsizetype(reply.size())));
    CHECK(match.hasMatch(), reply);
    const int status = match.captured(1).toInt();
    if (status != 200)
        return 0;

    // A quote comes only for the quote path with the right token, and is
    // well-formed QuoteData naming a printable symbol.
    CHECK(input.find(kQuotePath) != std::string_view::npos, reply);
    CHECK(input.find("LicenseKey") != std::string_view::npos, reply);
    const size_t bodyAt = reply.find("\r\n\r\n");
    CHECK(bodyAt != std::string::npos, reply);
    const std::string body = reply.substr(bodyAt + 4);
    if (body.empty() && input.substr(0, 5) == "HEAD ")
        return 0;
    QXmlStreamReader reader(QByteArray::fromStdString(body));
    CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("QuoteData"), reply);
    CHECK(reader.readNextStartElement() && reader.name() == QLatin1String("StockSymbol"), reply);
    const std::string symbol = reader.readElementText().toStdString();
    CHECK(!symbol.empty() && isPrintableUtf8(symbol), reply);
    while (reader.readNextStartElement())
        reader.skipCurrentElement();
    reader.readNext();
    CHECK(!reader.hasError() && reader.atEnd(), reply);
    return 0;
}
