// Runs the real tallow-quoted binary on a free loopback port and talks HTTP to it.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

const QByteArray kPath = "/delayedstockquote/delayedstockquote.asmx/GetQuote";

struct Reply
{
    long status = 0;
    QByteArray contentType, body;
};

size_t collect(char *data, size_t size, size_t count, void *body)
{
    static_cast<QByteArray *>(body)->append(data, qsizetype(size * count));
    return size * count;
}

// One request through `curl` (a handle that may be reused, so connections are kept alive).
Reply fetch(CURL *curl, quint16 port, const QByteArray &target, const char *method = nullptr)
{
    Reply reply;
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) + target;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    if (curl_easy_perform(curl) == CURLE_OK) {
        const char *type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        reply.contentType = type;
    }
    return reply;
}

Reply fetch(quint16 port, const QByteArray &target, const char *method = nullptr)
{
    CURL *curl = curl_easy_init();
    const Reply reply = fetch(curl, port, target, method);
    curl_easy_cleanup(curl);
    return reply;
}

QByteArray quoteTarget(const QByteArray &encodedSymbol, const QByteArray &key = QUOTE_SERVICE_TOKEN)
{
    return kPath + "?StockSymbol=" + encodedSymbol + "&LicenseKey=" + key;
}

// The children of a QuoteData document; empty unless the document is well-formed.
QMap<QString, QString> quoteFields(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    QMap<QString, QString> fields;
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("QuoteData"))
        return {};
    while (reader.readNextStartElement())
        fields.insert(reader.name().toString(), reader.readElementText());
    return reader.hasError() ? QMap<QString, QString>() : fields;
}

// Sends `request` on a fresh connection, closes the sending side and returns all
// that comes back until the service closes (receiving is capped at 30 s).
QByteArray exchangeRaw(quint16 port, const QByteArray &request)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{30, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray response;
    if (::connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        ::send(sock, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        ::shutdown(sock, SHUT_WR);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;)
            response.append(buffer, n);
    }
    ::close(sock);
    return response;
}

// tallow-quoted as a child process with its standard error in a file.
class Service
{
public:
    explicit Service(const QStringList &arguments)
    {
        m_process.setStandardErrorFile(m_dir.filePath("stderr.log"));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(TALLOW_QUOTED, QStringList{"--listen", "127.0.0.1:0"} + arguments);
        // Wait (up to 20 s) for the line that names the port.
        static const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
        for (int i = 0; i < 400 && m_process.state() != QProcess::NotRunning && !port; ++i) {
            port = quint16(listening.match(log()).captured(1).toUInt());
            if (!port)
                QThread::msleep(50);
        }
    }
    ~Service()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString log() const
    {
        QFile file(m_dir.filePath("stderr.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Sends `signal` and returns the exit code, or -1 unless it exited by itself.
    int stop(int signal)
    {
        ::kill(pid_t(m_process.processId()), signal);
        const bool finished = m_process.waitForFinished(30000);
        return finished && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode()
                                                                          : -1;
    }

    quint16 port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace

class TestQuoted : public QObject
{
    Q_OBJECT

    std::unique_ptr<Service> m_service;

private slots:
    void initTestCase()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        m_service = std::make_unique<Service>(QStringList());
        QVERIFY2(m_service->port, qPrintable(m_service->log()));
    }
    void cleanupTestCase()
    {
        QCOMPARE(m_service->stop(SIGTERM), 0);
        curl_global_cleanup();
    }

    void servesQuoteData()
    {
        const quint16 port = m_service->port;
        Reply first, second;
        // Two replies within one ten-minute step agree; retry if a step boundary fell between.
        for (int attempt = 0; attempt < 3; ++attempt) {
            first = fetch(port, quoteTarget("MSFT"));
            second = fetch(port, quoteTarget("msft"));
            if (quoteFields(first.body).value("LastTradeDateTime")
                == quoteFields(second.body).value("LastTradeDateTime"))
                break;
        }
        QCOMPARE(first.status, 200L);
        QCOMPARE(first.contentType, QByteArray("text/xml; charset=utf-8"));
        QVERIFY(first.body.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<QuoteData>"));
        QVERIFY(!first.body.contains("DOCTYPE"));

        auto fields = quoteFields(first.body);
        auto again = quoteFields(second.body);
        QCOMPARE(fields.value("StockSymbol"), QString("MSFT"));
        QCOMPARE(again.value("StockSymbol"), QString("msft"));
        again.remove("StockSymbol");
        fields.remove("StockSymbol");
        QCOMPARE(again, fields);

        const QRegularExpression price("^\\d+\\.\\d\\d$"), change("^([+-]\\d+\\.\\d\\d|0\\.00)$");
        for (const char *name : {"LastTradeAmount", "OpenAmount", "DayHigh", "DayLow", "PrevCls"})
            QVERIFY2(price.match(fields.value(name)).hasMatch(), name);
        QVERIFY(change.match(fields.value("StockChange")).hasMatch());
        QVERIFY(QRegularExpression("^([+-]\\d+\\.\\d\\d|0\\.00)%$")
                        .match(fields.value("ChangePercent"))
                        .hasMatch());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:[0-5]0:00$")
                        .match(fields.value("LastTradeDateTime"))
                        .hasMatch());
        const double last = fields.value("LastTradeAmount").toDouble();
        const double close = fields.value("PrevCls").toDouble();
        QCOMPARE(fields.value("OpenAmount"), fields.value("PrevCls"));
        QVERIFY(qAbs(last - close) <= close / 10 + 0.005);
        QVERIFY(fields.value("DayLow").toDouble() <= last
                && last <= fields.value("DayHigh").toDouble());
        QVERIFY(qAbs(last - close - fields.value("StockChange").toDouble()) < 0.005);
    }

    void echoesDecodedSymbols()
    {
        const quint16 port = m_service->port;
        const Reply encoded = fetch(port, quoteTarget("A%20B%26C"));
        QCOMPARE(encoded.status, 200L);
        QVERIFY(encoded.body.contains("<StockSymbol>A B&amp;C</StockSymbol>"));
        QCOMPARE(quoteFields(encoded.body), (QMap<QString, QString>{{"StockSymbol", "A B&C"}}));
        QCOMPARE(quoteFields(fetch(port, quoteTarget("X+Y%3C%2F")).body).value("StockSymbol"),
                 QString("X Y</"));

        QCOMPARE(fetch(port, quoteTarget("%FF")).status, 400L); // not UTF-8
        QCOMPARE(fetch(port, quoteTarget("A%0AB")).status, 400L); // control character
        QCOMPARE(fetch(port, kPath + "?LicenseKey=" QUOTE_SERVICE_TOKEN).status, 400L);
    }

    void checksLicenseKey()
    {
        const Reply wrong = fetch(m_service->port, quoteTarget("MSFT", "wrong"));
        QCOMPARE(wrong.status, 403L);
        QVERIFY(wrong.contentType.startsWith("text/plain"));
        QCOMPARE(fetch(m_service->port, kPath + "?StockSymbol=MSFT").status, 403L);

        Service custom({"--token", "other1"});
        QVERIFY(custom.port);
        QCOMPARE(fetch(custom.port, quoteTarget("MSFT")).status, 403L);
        QCOMPARE(fetch(custom.port, quoteTarget("MSFT", "other1")).status, 200L);
    }

    void rejectsOtherRequests()
    {
        const quint16 port = m_service->port;
        QCOMPARE(fetch(port, "/delayedstockquote/other.asmx/GetQuote").status, 404L);
        for (const char *method : {"POST", "PUT", "DELETE", "TRACE"})
            QCOMPARE(fetch(port, quoteTarget("MSFT"), method).status, 405L);

        const QByteArray host = "Host: 127.0.0.1\r\n";
        QVERIFY(exchangeRaw(port, "NONSENSE\r\n\r\n").startsWith("HTTP/1.1 400"));
        QVERIFY(exchangeRaw(port,
                            "GET " + kPath + "?" + QByteArray(20000, 'a') + " HTTP/1.1\r\n" + host
                                    + "\r\n")
                        .startsWith("HTTP/1.1 414"));
        QByteArray flood = "GET " + quoteTarget("MSFT") + " HTTP/1.1\r\n" + host;
        for (int i = 0; i < 2000; ++i)
            flood += "X-Filler-" + QByteArray::number(i) + ": 0123456789\r\n";
        QVERIFY(exchangeRaw(port, flood + "\r\n").startsWith("HTTP/1.1 4"));
        QVERIFY(exchangeRaw(port,
                            "POST " + kPath + " HTTP/1.1\r\n" + host
                                    + "Content-Length: 100000\r\n\r\n")
                        .startsWith("HTTP/1.1 413"));
        // A body on a GET is not read: the connection closes instead of reading it as a request.
        const QByteArray body = "GET /y HTTP/1.1\r\n\r\n";
        const QByteArray smuggled
                = exchangeRaw(port,
                              "GET /x HTTP/1.1\r\n" + host + "Content-Length: "
                                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QCOMPARE(smuggled.count("HTTP/1.1"), 1);
        QCOMPARE(fetch(port, quoteTarget("MSFT")).status, 200L);
    }

    void servesManyClientsAtOnce()
    {
        std::atomic<int> ok{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 32; ++c) {
            clients.emplace_back([&ok, c, port = m_service->port] {
                CURL *curl = curl_easy_init();
                const QByteArray symbol = c % 2 ? QByteArray("IBM") : "SYM" + QByteArray::number(c);
                for (int i = 0; i < 10; ++i) {
                    const Reply reply = fetch(curl, port, quoteTarget(symbol));
                    ok += reply.status == 200
                            && quoteFields(reply.body).value("StockSymbol")
                                    == QLatin1String(symbol);
                }
                curl_easy_cleanup(curl);
            });
        }
        for (auto &client : clients)
            client.join();
        QCOMPARE(ok.load(), 320);
    }

    void reloadsDataFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("quotes.csv");
        const auto write = [&](const QByteArray &text) {
            QFile file(dir.filePath("next.csv"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
            file.close();
            QVERIFY(::rename(qPrintable(file.fileName()), qPrintable(path)) == 0);
        };
        const auto lastOf = [](quint16 port, const QByteArray &symbol) {
            return quoteFields(fetch(port, quoteTarget(symbol)).body).value("LastTradeAmount");
        };
        write("symbol,previous_close,last\nOWN,10.00,12.34\nBROKEN,ten\n");
        Service service({"--data", path});
        QVERIFY2(service.port, qPrintable(service.log()));
        QCOMPARE(lastOf(service.port, "own"), QString("12.34"));
        QVERIFY(service.log().contains("line 3"));
        QCOMPARE(lastOf(service.port, "MSFT"), QString()); // only the file's symbols

        write("symbol,previous_close,last\nOWN,10.00,9.87\n");
        QCOMPARE(lastOf(service.port, "OWN"), QString("9.87"));
        write("not a quote table\n");
        QCOMPARE(lastOf(service.port, "OWN"), QString("9.87"));
        QVERIFY(QFile::remove(path));
        QCOMPARE(lastOf(service.port, "OWN"), QString("9.87"));
        write("symbol,previous_close\nNEW,5.00\n");
        QVERIFY(!lastOf(service.port, "NEW").isEmpty());
        QCOMPARE(lastOf(service.port, "OWN"), QString());
        QVERIFY(service.log().contains("keeping the last good data"));
    }

    void stopsCleanlyOnSignals()
    {
        for (const int signal : {SIGINT, SIGTERM}) {
            Service service({});
            QVERIFY(service.port);
            QCOMPARE(fetch(service.port, quoteTarget("MSFT")).status, 200L);
            QCOMPARE(service.stop(signal), 0);
            QVERIFY(service.log().contains(QLatin1String(" GET " + kPath)));
        }
    }
};

QTEST_GUILESS_MAIN(TestQuoted)
#include "tst_quoted.moc"
