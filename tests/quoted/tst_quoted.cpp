// Runs the real tallow-quoted binary on a free loopback port and talks HTTP to it.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QXmlStreamReader>
#include <QtTest>

#include "support/testserver.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <mutex>
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
    static_cast<QByteArray *>(body)->append(
            data, static_cast<qsizetype>(size) * static_cast<qsizetype>(count));
    return size * count;
}

// One request through `curl` (a handle that may be reused, so connections are kept alive).
Reply fetch(CURL *curl, quint16 port, const QByteArray &target, const char *method = nullptr,
            long timeoutSeconds = 30)
{
    Reply reply;
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) + target;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
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
    Reply reply = fetch(curl, port, target, method);
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

int connectTo(quint16 port)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

// Sends `request` on a fresh connection, closes the sending side and returns all
// that comes back until the service closes (receiving is capped at 30 s).
QByteArray exchangeRaw(quint16 port, const QByteArray &request)
{
    const int sock = connectTo(port);
    const timeval timeout{30, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray response;
    if (sock >= 0) {
        ::send(sock, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        ::shutdown(sock, SHUT_WR);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;)
            response.append(buffer, n);
    }
    ::close(sock);
    return response;
}

const QByteArray kKey = "made-up-key-77";

QByteArray http(int status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + QByteArray::number(status)
            + " X\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// A market-data provider on 127.0.0.1, answering each request as set for the
// symbol it names (or for "*"): with a canned reply, a reset, silence until it
// is destroyed, or a reply held back until release().
class StandIn
{
public:
    enum Action { Answer, Reset, Hang, Hold };

    StandIn() : url("http://127.0.0.1:" + QString::number(mServer.port())) { }

    void set(const QByteArray &symbol, Action action, const QByteArray &response = {})
    {
        std::lock_guard lock(mMutex);
        mBehaviour[symbol] = {action, response};
    }
    QByteArrayList targets() const
    {
        QByteArrayList targets;
        for (const QByteArray &head : mServer.heads())
            targets << target(head);
        return targets;
    }
    int requestsFor(const QByteArray &symbol) const
    {
        const QByteArrayList all = targets();
        return int(std::count_if(all.begin(), all.end(), [&](const QByteArray &target) {
            return target.contains("symbol=" + symbol + "&");
        }));
    }
    void release() { mReleased = true; }

private:
    static QByteArray target(const QByteArray &head)
    {
        return head.mid(4, head.indexOf(" HTTP/") - 4);
    }

    void respond(Connection &connection)
    {
        const QByteArray symbol = QUrlQuery(QUrl::fromEncoded("http://x" + target(connection.head)))
                                          .queryItemValue("symbol", QUrl::FullyEncoded)
                                          .toLatin1();
        std::pair<Action, QByteArray> behaviour;
        {
            std::lock_guard lock(mMutex);
            behaviour = mBehaviour.value(symbol, mBehaviour.value("*"));
        }
        const auto [action, response] = behaviour;
        if (action == Hang)
            connection.hold();
        while (action == Hold && !mReleased && !connection.stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (action == Reset)
            connection.reset();
        else if (action != Hang)
            connection.send(response);
    }

    // Before the server: its threads use them from the start.
    std::mutex mMutex;
    QMap<QByteArray, std::pair<Action, QByteArray>> mBehaviour;
    std::atomic<bool> mReleased{false};
    TestServer mServer{[this](Connection &connection) { respond(connection); }};

public:
    const QString url;
};

// tallow-quoted as a child process with its standard error in a file.
class Service
{
public:
    explicit Service(const QStringList &arguments,
                     const QProcessEnvironment &environment
                     = QProcessEnvironment::systemEnvironment())
    {
        mProcess.setProcessEnvironment(environment);
        mProcess.setStandardErrorFile(mDir.filePath("stderr.log"));
        mProcess.setStandardOutputFile(QProcess::nullDevice());
        mProcess.start(TALLOW_QUOTED, QStringList{"--listen", "127.0.0.1:0"} + arguments);
        // Wait (up to 20 s) for the line that names the port.
        static const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
        for (int i = 0; i < 400 && mProcess.state() != QProcess::NotRunning && !port; ++i) {
            port = quint16(listening.match(log()).captured(1).toUInt());
            if (!port)
                QThread::msleep(50);
        }
    }
    ~Service()
    {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.kill();
            mProcess.waitForFinished();
        }
    }
    QString log() const
    {
        QFile file(mDir.filePath("stderr.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Sends `signal` and returns the exit code, or -1 unless it exited by itself.
    int stop(int signal)
    {
        ::kill(pid_t(mProcess.processId()), signal);
        const bool finished = mProcess.waitForFinished(30000);
        return finished && mProcess.exitStatus() == QProcess::NormalExit ? mProcess.exitCode() : -1;
    }

    quint16 port = 0;

private:
    QTemporaryDir mDir;
    QProcess mProcess;
};

} // namespace

class TestQuoted : public QObject
{
    Q_OBJECT

    std::unique_ptr<Service> mService;

private slots:
    void initTestCase()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        mService = std::make_unique<Service>(QStringList());
        QVERIFY2(mService->port, qPrintable(mService->log()));
    }
    void cleanupTestCase()
    {
        QCOMPARE(mService->stop(SIGTERM), 0);
        curl_global_cleanup();
    }

    void servesQuoteData()
    {
        const quint16 port = mService->port;
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
        const quint16 port = mService->port;
        const Reply encoded = fetch(port, quoteTarget("A%20B%26C"));
        QCOMPARE(encoded.status, 200L);
        QVERIFY(encoded.body.contains("<StockSymbol>A B&amp;C</StockSymbol>"));
        QCOMPARE(quoteFields(encoded.body),
                 (QMap<QString, QString>{{"StockSymbol", "A B&C"},
                                         {"Notice", "No quote for A B&C"}}));
        QCOMPARE(quoteFields(fetch(port, quoteTarget("X+Y%3C%2F")).body).value("StockSymbol"),
                 QString("X Y</"));

        QCOMPARE(fetch(port, quoteTarget("%FF")).status, 400L); // not UTF-8
        QCOMPARE(fetch(port, quoteTarget("A%0AB")).status, 400L); // control character
        QCOMPARE(fetch(port, kPath + "?LicenseKey=" QUOTE_SERVICE_TOKEN).status, 400L);
    }

    // Sample mode says so on every quote; a symbol it does not know is named;
    // blanks around a symbol do not make it unknown.
    void sendsNotices_data()
    {
        QTest::addColumn<QByteArray>("symbol");
        QTest::addColumn<QString>("echoed");
        QTest::addColumn<bool>("priced");
        QTest::addColumn<QString>("notice");
        QTest::newRow("known") << QByteArray("GOOG") << "GOOG" << true << "Simulated prices";
        QTest::newRow("unknown") << QByteArray("NOPE") << "NOPE" << false << "No quote for NOPE";
        QTest::newRow("blanks around")
                << QByteArray("+%20aapl%09") << "aapl" << true << "Simulated prices";
        QTest::newRow("only blanks") << QByteArray("+%09") << QString() << false << QString();
        QTest::newRow("33 bytes") << QByteArray(33, 'A') << QString() << false << QString();
    }
    void sendsNotices()
    {
        QFETCH(QByteArray, symbol);
        QFETCH(QString, echoed);
        QFETCH(bool, priced);
        QFETCH(QString, notice);
        const Reply reply = fetch(mService->port, quoteTarget(symbol));
        QCOMPARE(reply.status, echoed.isEmpty() ? 400L : 200L);
        const auto fields = quoteFields(reply.body);
        QCOMPARE(fields.value("StockSymbol"), echoed);
        QCOMPARE(fields.contains("LastTradeAmount"), priced);
        QCOMPARE(fields.value("Notice"), notice);
    }

    void checksLicenseKey()
    {
        const Reply wrong = fetch(mService->port, quoteTarget("MSFT", "wrong"));
        QCOMPARE(wrong.status, 403L);
        QVERIFY(wrong.contentType.startsWith("text/plain"));
        QCOMPARE(fetch(mService->port, kPath + "?StockSymbol=MSFT").status, 403L);

        Service custom({"--token", "other1"});
        QVERIFY(custom.port);
        QCOMPARE(fetch(custom.port, quoteTarget("MSFT")).status, 403L);
        QCOMPARE(fetch(custom.port, quoteTarget("MSFT", "other1")).status, 200L);
    }

    void rejectsOtherRequests()
    {
        const quint16 port = mService->port;
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

    // Requests that a proxy in front could read differently are refused and
    // end the connection; ranges are not served.
    void refusesAmbiguousRequests_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("status");

        const QByteArray next = "GET " + quoteTarget("IBM") + " HTTP/1.1\r\nHost: x\r\n\r\n";
        QTest::newRow("Content-Length twice")
                << QByteArray("Content-Length: 0\r\nContent-Length: 60\r\n") << next
                << QByteArray("400");
        QTest::newRow("Content-Length with a sign")
                << QByteArray("Content-Length: +5\r\n") << QByteArray("abcde") + next
                << QByteArray("400");
        QTest::newRow("Content-Length and Transfer-Encoding")
                << QByteArray("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n")
                << "0\r\n\r\n" + next << QByteArray("400");
        QTest::newRow("NUL in a header")
                << QByteArray("X-Note: a\0b\r\n", 13) << next << QByteArray("400");
        QByteArray ranges = "Range: bytes=0-0";
        for (int i = 1; i < 1500; ++i)
            ranges += "," + QByteArray::number(i) + "-" + QByteArray::number(i);
        QTest::newRow("1,500 ranges") << ranges + "\r\nConnection: close\r\n"
                                      << QByteArray() << QByteArray("200");
    }
    void refusesAmbiguousRequests()
    {
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, status);
        const QByteArray response
                = exchangeRaw(mService->port,
                              "GET " + quoteTarget("MSFT") + " HTTP/1.1\r\nHost: x\r\n" + headers
                                      + "\r\n" + body);
        QVERIFY2(response.startsWith("HTTP/1.1 " + status), response.left(200).constData());
        QCOMPARE(response.count("HTTP/1.1 "), 1); // nothing smuggled was served
        QVERIFY(!response.contains("Content-Range") && response.size() < 4096);
    }

    // Quotes may be kept by shared HTTP caches until the next price step.
    void quoteRepliesMayBeCached()
    {
        const QByteArray response = exchangeRaw(
                mService->port,
                "GET " + quoteTarget("MSFT") + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        const QRegularExpressionMatch maxAge
                = QRegularExpression("\r\nCache-Control: public, max-age=(\\d+)\r\n")
                          .match(QString::fromLatin1(response));
        QVERIFY2(maxAge.hasMatch(), response.constData());
        QVERIFY(maxAge.captured(1).toInt() > 0 && maxAge.captured(1).toInt() <= 600);
        QVERIFY(response.contains("\r\nDate: "));
        const QDateTime stamp = QDateTime::fromString(
                quoteFields(response.mid(response.indexOf("<?xml"))).value("LastTradeDateTime"),
                Qt::ISODate);
        QVERIFY(response.contains(
                "\r\nLast-Modified: "
                + QLocale::c().toString(stamp, "ddd, dd MMM yyyy HH:mm:ss").toLatin1()
                + " GMT\r\n"));
        QVERIFY(exchangeRaw(mService->port,
                            "GET " + quoteTarget("MSFT", "wrong")
                                    + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                        .contains("\r\nCache-Control: no-store\r\n"));
    }

    void refusesABusyAddress()
    {
        QProcess second;
        second.start(TALLOW_QUOTED, {"--listen", "127.0.0.1:" + QString::number(mService->port)});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("cannot listen on"));
    }

    // Symbols and provider text reach the log with every control and line
    // separator escaped.
    void escapesLogLines()
    {
        const QByteArray response
                = exchangeRaw(mService->port,
                              "GET "
                                      + quoteTarget("A\xC2\x85"
                                                    "B\xE2\x80\xA8"
                                                    "C")
                                      + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QVERIFY2(response.startsWith("HTTP/1.1 200"), response.constData());
        const QString log = mService->log();
        QVERIFY2(log.contains("A\\xc2\\x85B\\xe2\\x80\\xa8C"), qPrintable(log.right(300)));
        QVERIFY(!log.contains(QChar(0x85)) && !log.contains(QChar(0x2028)));
    }

    void servesManyClientsAtOnce()
    {
        std::atomic<int> ok{0};
        std::vector<std::thread> clients;
        clients.reserve(32);
        for (int c = 0; c < 32; ++c) {
            clients.emplace_back([&ok, c, port = mService->port] {
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

    void refusesBadStarts_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@" stands for a temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on standard output for 0, else standard error

        const QStringList finnhub{"--source", "finnhub", "--api-key-file"};
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--max-stale SECONDS";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << "tallow-quoted " TALLOW_VERSION "\n";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << "Usage:";
        QTest::newRow("option twice") << QStringList{"--cache", "1", "--cache", "2"} << 2
                                      << "option given twice: --cache";
        QTest::newRow("key file missing")
                << finnhub + QStringList{"@/missing"} << 2 << "cannot read the API key file";
        QTest::newRow("key file empty")
                << finnhub + QStringList{"@/empty"} << 2 << "is missing or empty";
        QTest::newRow("key file unreadable")
                << finnhub + QStringList{"@"} << 2 << "not a regular file";
        QTest::newRow("no key") << QStringList{"--source", "twelvedata"} << 2
                                << "TALLOW_QUOTED_API_KEY";
        QTest::newRow("data for a provider")
                << finnhub + QStringList{"@/key", "--data", "@/key"} << 2 << "sample mode only";
        QTest::newRow("data is a device")
                << QStringList{"--data", "/dev/zero"} << 1 << "not a regular file";
        QTest::newRow("data is a FIFO")
                << QStringList{"--data", "@/fifo"} << 1 << "not a regular file";
    }
    void refusesBadStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QFile empty(dir.filePath("empty")), key(dir.filePath("key"));
        QVERIFY(empty.open(QIODevice::WriteOnly) && key.open(QIODevice::WriteOnly));
        QVERIFY(key.write(kKey) > 0);
        key.close();
        QCOMPARE(::mkfifo(qPrintable(dir.filePath("fifo")), 0600), 0);
        arguments.replaceInStrings("@", dir.path());

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("TALLOW_QUOTED_API_KEY");
        process.setProcessEnvironment(environment);
        process.start(TALLOW_QUOTED, QStringList{"--listen", "127.0.0.1:0"} + arguments);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QString output
                = exitCode == 0 ? process.readAllStandardOutput() : process.readAllStandardError();
        QVERIFY2(output.contains(message), qPrintable(output));
    }

    void servesProviderQuotes_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("keyFileMode"); // 0: the key comes from the environment
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("target");

        QTest::newRow("finnhub")
                << "finnhub" << 0
                << QByteArray(R"({"c":189.5,"d":-1.25,"dp":-0.6553,"pc":190.75,"t":1765209600})")
                << "/v1/quote?symbol=BRK.B&token=" + kKey;
        QTest::newRow("alphavantage, key file readable by others")
                << "alphavantage" << 0644
                << QByteArray(R"({"Global Quote": {"05. price": "189.5000", "09. change":)"
                              R"( "-1.2500", "10. change percent": "-0.6553%"}})")
                << "/v1/query?function=GLOBAL_QUOTE&symbol=BRK.B&apikey=" + kKey;
        QTest::newRow("twelvedata")
                << "twelvedata" << 0600
                << QByteArray(R"({"close":"189.5","change":"-1.25","percent_change":"-0.6553"})")
                << "/v1/quote?symbol=BRK.B&apikey=" + kKey;
    }
    void servesProviderQuotes()
    {
        QFETCH(QString, provider);
        QFETCH(int, keyFileMode);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, target);
        StandIn standIn;
        standIn.set("*", StandIn::Answer, http(200, reply));
        QTemporaryDir dir;
        QFile keyFile(dir.filePath("key"));
        QVERIFY(keyFile.open(QIODevice::WriteOnly) && keyFile.write(" " + kKey + " \nmore\n") > 0);
        keyFile.close();
        QCOMPARE(::chmod(qPrintable(keyFile.fileName()), mode_t(keyFileMode)), 0);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QStringList arguments{"--source", provider, "--source-url", standIn.url + "/v1/"};
        if (keyFileMode == 0)
            environment.insert("TALLOW_QUOTED_API_KEY", kKey);
        else
            arguments << "--api-key-file" << keyFile.fileName();
        Service service(arguments, environment);
        QVERIFY2(service.port, qPrintable(service.log()));

        const Reply answer = fetch(service.port, quoteTarget("brk.b"));
        QCOMPARE(answer.status, 200L);
        const auto fields = quoteFields(answer.body);
        QCOMPARE(fields.value("StockSymbol"), QString("brk.b"));
        QCOMPARE(fields.value("LastTradeAmount"), QString("189.50"));
        QCOMPARE(fields.value("StockChange"), QString("-1.25"));
        QCOMPARE(fields.value("ChangePercent"), QString("-0.66%"));
        QCOMPARE(standIn.targets(), QByteArrayList{target});
        QVERIFY(service.log().contains("serving delayed quotes from " + provider));
        QVERIFY(!service.log().contains(kKey));
        // The service starts either way, with a word about a key file others can read.
        QCOMPARE(service.log().contains("warning: the API key file"), (keyFileMode & 077) != 0);
    }

    // After a good quote of MSFT, the provider fails: the quote stands in, a
    // symbol with nothing cached gets 503, and one line names the failure.
    void survivesProviderFaults_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("reason");

        QTest::newRow("reset") << int(StandIn::Reset) << QByteArray() << "reset";
        QTest::newRow("never answers") << int(StandIn::Hang) << QByteArray() << "timed out";
        QTest::newRow("over 1 MiB")
                << int(StandIn::Answer)
                << http(200, "{\"c\":1,\"pad\":\"" + QByteArray(1 << 20, 'x') + "\"}") << "1 MiB";
        QTest::newRow("HTML") << int(StandIn::Answer) << http(200, "<html>busy</html>")
                              << "not JSON";
        QTest::newRow("empty") << int(StandIn::Answer) << http(200, "") << "empty reply";
        QTest::newRow("malformed") << int(StandIn::Answer) << http(200, R"({"c":)") << "not JSON";
        QTest::newRow("bad key echoed")
                << int(StandIn::Answer) << http(401, "{\"error\":\"wrong key " + kKey + "\"}")
                << "HTTP 401: wrong key [key]";
        QTest::newRow("key echoed in upper case")
                << int(StandIn::Answer)
                << http(401, "{\"error\":\"wrong key " + kKey.toUpper() + "\"}")
                << "HTTP 401: wrong key [key]";
        QTest::newRow("controls in the reason")
                << int(StandIn::Answer) << http(401, R"({"error":"bad\u0085key\u2028\u0007"})")
                << "bad\\xc2\\x85key\\xe2\\x80\\xa8\\x07";
        QTest::newRow("nonsense figures")
                << int(StandIn::Answer) << http(200, R"({"c":-5.5,"pc":-0.0000001})")
                << "implausible price";
        QTest::newRow("rate limit")
                << int(StandIn::Answer) << http(429, "", "Retry-After: 120\r\n") << "rate limited";
    }
    void survivesProviderFaults()
    {
        QFETCH(int, action);
        QFETCH(QByteArray, reply);
        QFETCH(QString, reason);
        StandIn standIn;
        standIn.set("*", StandIn::Answer, http(200, R"({"c":189.5,"pc":190})"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TALLOW_QUOTED_API_KEY", kKey);
        Service service({"--source", "finnhub", "--source-url", standIn.url, "--cache", "0"},
                        environment);
        QVERIFY2(service.port, qPrintable(service.log()));
        QCOMPARE(
                quoteFields(fetch(service.port, quoteTarget("MSFT")).body).value("LastTradeAmount"),
                QString("189.50"));

        standIn.set("*", StandIn::Action(action), reply);
        const Reply stale = fetch(service.port, quoteTarget("MSFT"));
        QCOMPARE(stale.status, 200L);
        QCOMPARE(quoteFields(stale.body).value("LastTradeAmount"), QString("189.50"));
        const Reply none = fetch(service.port, quoteTarget("IBM"));
        QCOMPARE(none.status, 503L);
        QVERIFY(none.contentType.startsWith("text/plain"));
        QVERIFY(!none.body.toUpper().contains(kKey.toUpper()));

        const QStringList failures
                = service.log().split('\n').filter("provider finnhub, symbol MSFT: ");
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.front().contains(reason), qPrintable(failures.front()));
        QVERIFY(!service.log().contains(kKey, Qt::CaseInsensitive));
        QCOMPARE(service.stop(SIGTERM), 0);
    }

    // Many requests for a symbol that is not cached yet share one provider
    // request, and cached symbols are answered while it is outstanding.
    void sharesOneProviderRequest()
    {
        StandIn standIn;
        standIn.set("*", StandIn::Answer, http(200, R"({"c":10.5,"pc":10})"));
        standIn.set("SLOW", StandIn::Hold, http(200, R"({"c":20.5,"pc":20})"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TALLOW_QUOTED_API_KEY", kKey);
        Service service({"--source", "finnhub", "--source-url", standIn.url}, environment);
        QVERIFY2(service.port, qPrintable(service.log()));
        QCOMPARE(fetch(service.port, quoteTarget("FAST")).status, 200L);

        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        clients.reserve(100);
        for (int c = 0; c < 100; ++c)
            clients.emplace_back([&answered, port = service.port] {
                const Reply reply = fetch(port, quoteTarget("SLOW"));
                answered += quoteFields(reply.body).value("LastTradeAmount") == "20.50";
            });
        QTRY_COMPARE(standIn.requestsFor("SLOW"), 1);
        QCOMPARE(fetch(service.port, quoteTarget("FAST")).status, 200L);
        QCOMPARE(answered.load(), 0); // the provider has not answered SLOW yet
        standIn.release();
        for (auto &client : clients)
            client.join();
        QCOMPARE(answered.load(), 100);
        QCOMPARE(standIn.requestsFor("SLOW"), 1);
        QCOMPARE(standIn.requestsFor("FAST"), 1);
    }

    // Clients that send their request a byte at a time hold no worker the
    // others need, and are cut off once their request is overdue.
    void slowClientsDoNotStarveOthers_data()
    {
        QTest::addColumn<int>("slowClients");
        QTest::newRow("16") << 16;
        QTest::newRow("64") << 64;
    }
    void slowClientsDoNotStarveOthers()
    {
        QFETCH(int, slowClients);
        const quint16 port = mService->port;
        std::vector<int> slow;
        for (int i = 0; i < slowClients; ++i) {
            slow.push_back(connectTo(port));
            QVERIFY(slow.back() >= 0 && ::send(slow.back(), "G", 1, MSG_NOSIGNAL) == 1);
        }
        const auto stillOpen = [](int sock) {
            char byte;
            const ssize_t n = ::recv(sock, &byte, 1, MSG_DONTWAIT);
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        };
        QTest::qWait(200); // let the service take up every slow connection
        QCOMPARE(fetch(port, quoteTarget("MSFT")).status, 200L);
        // Answered before any slow connection gave up its worker.
        QCOMPARE(int(std::count_if(slow.begin(), slow.end(), stillOpen)), slowClients);

        // A byte every 100 ms keeps every read alive; the whole request is still overdue.
        for (int round = 0; round < 300 && std::any_of(slow.begin(), slow.end(), stillOpen);
             ++round) {
            for (int sock : slow)
                ::send(sock, "E", 1, MSG_NOSIGNAL);
            QThread::msleep(100);
        }
        QCOMPARE(int(std::count_if(slow.begin(), slow.end(), stillOpen)), 0);
        for (int sock : slow)
            ::close(sock);
    }

    // Connections that send nothing, keep-alive clients and requests waiting for
    // a provider that never answers: a probe for a cached quote is still answered.
    void answersProbesUnderLoad_data()
    {
        QTest::addColumn<QString>("load");
        QTest::addColumn<int>("count");
        QTest::newRow("2,000 idle connections") << "idle" << 2000;
        QTest::newRow("10,000 idle connections") << "idle" << 10000;
        QTest::newRow("200 keep-alive clients") << "keep-alive" << 200;
        QTest::newRow("provider never answers 200 symbols") << "provider" << 200;
    }
    void answersProbesUnderLoad()
    {
        QFETCH(QString, load);
        QFETCH(int, count);
        rlimit files{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &files), 0);
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, rlim_t(count) + 1024);
        ::setrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < rlim_t(count) + 256)
            QSKIP("the descriptor limit is too low for this many connections");

        StandIn standIn;
        std::unique_ptr<Service> own;
        quint16 port = mService->port;
        QByteArray probe = "MSFT";
        if (load == "provider") {
            standIn.set("*", StandIn::Hang);
            standIn.set("CACHED", StandIn::Answer, http(200, R"({"c":10.5,"pc":10})"));
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TALLOW_QUOTED_API_KEY", kKey);
            own = std::make_unique<Service>(
                    QStringList{"--source", "finnhub", "--source-url", standIn.url}, environment);
            QVERIFY2(own->port, qPrintable(own->log()));
            port = own->port;
            probe = "CACHED";
            QCOMPARE(fetch(port, quoteTarget(probe)).status, 200L);
        }

        // The load, kept up from a thread of its own: closed connections are
        // opened again, keep-alive clients ask every 1.8 s.
        std::atomic<bool> stop{false};
        std::atomic<int> open{0};
        std::thread loader([&] {
            std::vector<int> socks(size_t(count), -1);
            std::vector<QElapsedTimer> lastAsked(socks.size());
            char sink[4096];
            while (!stop) {
                int opened = 0;
                for (size_t i = 0; i < socks.size() && !stop; ++i) {
                    int &sock = socks[i];
                    if (sock >= 0) {
                        const ssize_t n = ::recv(sock, sink, sizeof sink, MSG_DONTWAIT);
                        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                            ::close(sock);
                            sock = -1;
                        }
                    }
                    if (sock < 0 && (sock = connectTo(port)) >= 0 && load == "provider") {
                        const QByteArray request = "GET "
                                + quoteTarget("S" + QByteArray::number(int(i)))
                                + " HTTP/1.1\r\nHost: x\r\n\r\n";
                        ::send(sock, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
                    }
                    if (sock >= 0 && load == "keep-alive"
                        && (!lastAsked[i].isValid() || lastAsked[i].elapsed() >= 1800)) {
                        const QByteArray request
                                = "GET " + quoteTarget("IBM") + " HTTP/1.1\r\nHost: x\r\n\r\n";
                        ::send(sock, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
                        lastAsked[i].start();
                    }
                    opened += sock >= 0;
                }
                open = opened;
                QThread::msleep(20);
            }
            for (int sock : socks)
                if (sock >= 0)
                    ::close(sock);
        });
        QTRY_VERIFY_WITH_TIMEOUT(open >= count * 9 / 10, 60000);

        qint64 slowest = 0;
        CURL *curl = curl_easy_init();
        for (int round = 0; round < 10; ++round) {
            QElapsedTimer elapsed;
            elapsed.start();
            const Reply reply = fetch(curl, port, quoteTarget(probe), nullptr, 5);
            slowest = std::max(slowest, elapsed.elapsed());
            QVERIFY2(reply.status == 200, qPrintable(QString::number(round)));
            QThread::msleep(300);
        }
        curl_easy_cleanup(curl);
        stop = true;
        loader.join();
        qInfo("%s x%d: slowest of 10 probes %lld ms (%d connections open)", qPrintable(load), count,
              slowest, open.load());
    }

    // The nginx example of the README, run for real: a cache in front of the
    // gateway answers many screens with one request to it.
    void sharesQuotesThroughNginx()
    {
        const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
        if (nginx.isEmpty())
            QSKIP("nginx is not installed (scripts/ensure-packages.sh test installs it): the "
                  "README's proxy_cache example is not tested");
        QFile readme(QStringLiteral(QUOTED_README));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QByteArray text = readme.readAll();
        const qsizetype from = text.indexOf("```nginx\n"), to = text.indexOf("```", from + 9);
        QVERIFY(from >= 0 && to > from);
        QByteArray example = text.mid(from + 9, to - from - 9);

        StandIn standIn;
        standIn.set("*", StandIn::Answer, http(200, R"({"c":189.5,"pc":190,"t":1765209600})"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TALLOW_QUOTED_API_KEY", kKey);
        Service service({"--source", "finnhub", "--source-url", standIn.url, "--cache", "600"},
                        environment);
        QVERIFY2(service.port, qPrintable(service.log()));

        // A free port for nginx, and a folder it may write as whatever user its workers are.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(::bind(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
                && ::getsockname(probe, reinterpret_cast<sockaddr *>(&addr), &len) == 0);
        const QByteArray nginxPort = QByteArray::number(ntohs(addr.sin_port));
        ::close(probe);
        QTemporaryDir dir;
        QCOMPARE(::chmod(qPrintable(dir.path()), 0755), 0);
        const QByteArray root = dir.path().toUtf8();

        example.replace("127.0.0.1:8780", "127.0.0.1:" + QByteArray::number(service.port));
        example.replace("listen 127.0.0.1:8080", "listen 127.0.0.1:" + nginxPort);
        example.replace("/var/cache/nginx/tallow-quoted", root + "/cache");
        QByteArray config = "daemon off;\nworker_processes 1;\npid " + root + "/nginx.pid;\n"
                + "events {}\nhttp {\naccess_log off;\n";
        for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            config += QByteArray(temp) + "_temp_path " + root + "/" + temp + ";\n";
        config += example + "}\n";
        QFile file(dir.filePath("nginx.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
        file.close();

        QProcess server;
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(nginx,
                     {"-p", dir.path(), "-e", dir.filePath("error.log"), "-c", file.fileName()});
        QVERIFY(server.waitForStarted());
        int sock = -1;
        for (int i = 0; i < 200 && sock < 0 && server.state() == QProcess::Running; ++i) {
            sock = connectTo(quint16(nginxPort.toUInt()));
            if (sock < 0)
                QThread::msleep(50);
        }
        ::close(sock);
        QFile errors(dir.filePath("error.log"));
        errors.open(QIODevice::ReadOnly);
        QVERIFY2(sock >= 0, (server.readAll() + errors.readAll()).constData());

        CURL *curl = curl_easy_init();
        int answered = 0;
        for (int i = 0; i < 100; ++i)
            answered += quoteFields(
                                fetch(curl, quint16(nginxPort.toUInt()), quoteTarget("MSFT")).body)
                                .value("LastTradeAmount")
                    == "189.50";
        curl_easy_cleanup(curl);
        server.terminate();
        server.waitForFinished();
        QCOMPARE(answered, 100);
        QCOMPARE(standIn.requestsFor("MSFT"), 1);
        QCOMPARE(service.log().count(" GET " + QLatin1String(kPath)), 1);
    }

    void refusesDataFileSwappedForDevice_data()
    {
        QTest::addColumn<QString>("swap");
        QTest::newRow("link to /dev/zero") << "link";
        QTest::newRow("FIFO") << "fifo";
    }
    void refusesDataFileSwappedForDevice()
    {
        QFETCH(QString, swap);
        QTemporaryDir dir;
        const QString path = dir.filePath("quotes.csv"), next = dir.filePath("next");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly)
                && file.write("symbol,previous_close,last\nOWN,10,12.34\n") > 0);
        file.close();
        Service service({"--data", path});
        QVERIFY2(service.port, qPrintable(service.log()));
        QVERIFY(swap == "link" ? ::symlink("/dev/zero", qPrintable(next)) == 0
                               : ::mkfifo(qPrintable(next), 0600) == 0);
        QCOMPARE(::rename(qPrintable(next), qPrintable(path)), 0);
        const Reply reply = fetch(service.port, quoteTarget("OWN"));
        QCOMPARE(quoteFields(reply.body).value("LastTradeAmount"), QString("12.34"));
        QVERIFY(service.log().contains("not a regular file"));
        QCOMPARE(service.stop(SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(TestQuoted)
#include "tst_quoted.moc"
