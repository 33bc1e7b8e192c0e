#include "app/appshell.h"
#include "app/errortrap.h"
#include "app/runtimeerror.h"
#include "quote/networkfetcher.h"
#include "quote/quote.h"
#include "support/testserver.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString Host = QStringLiteral(QUOTE_SERVICE_HOST);
const QString Token = QStringLiteral(QUOTE_SERVICE_TOKEN);
const QByteArray Path = "/delayedstockquote/delayedstockquote.asmx/GetQuote";
const QByteArray TypicalReply = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<QuoteData>\n"
                                "  <StockSymbol>MSFT</StockSymbol>\n"
                                "  <LastTradeAmount>331.16</LastTradeAmount>\n"
                                "  <StockChange>-0.42</StockChange>\n"
                                "  <ChangePercent>-0.13%</ChangePercent>\n"
                                "  <StockVolume>20418</StockVolume>\n</QuoteData>\n";
const QString TypicalText
        = "MSFT\r\nStock Change: -0.42\r\nPercentage Change: -0.13%\r\n331.16\r\n{time}";

// The quote fetch as the display runs it, under the trap the display arms.
QString displayQuote(const QString &symbol)
{
    ErrorTrap trap(QStringLiteral("Form2"), QStringLiteral("getStockQuote"));
    return Quote::getStockQuote(trap, symbol);
}

// A reply whose StockChange sits `depth` elements deep (QuoteData is level 1).
QByteArray nested(int depth)
{
    const int inner = depth - 1;
    return "<QuoteData><StockChange>1.5</StockChange>" + QByteArray("<a>").repeated(inner)
            + QByteArray("</a>").repeated(inner) + "</QuoteData>";
}

QByteArray httpReply(const QByteArray &status, const QByteArray &body,
                     const QByteArray &headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

void sendChunked(Connection &connection, const QByteArray &chunk, qsizetype total)
{
    connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (qsizetype sent = 0; sent < total; sent += chunk.size()) {
        if (!connection.send(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n"))
            return;
    }
    connection.send("0\r\n\r\n");
}

// The scripted behaviours of the test server, by name.
TestServer::Responder responder(const QString &mode)
{
    const QByteArray html = "<html><body><h1>Internal Server Error</h1><p>Try later.<br></p>"
                            "</body></html>";
    if (mode == "html 500")
        return [=](Connection &c) { c.send(httpReply("500 Internal Server Error", html)); };
    if (mode == "xml 500")
        return [](Connection &c) { c.send(httpReply("500 Internal Server Error", TypicalReply)); };
    if (mode == "empty")
        return [](Connection &c) { c.send(httpReply("200 OK", {})); };
    if (mode == "redirect") {
        return [](Connection &c) {
            c.send(c.head.startsWith("GET /moved ")
                           ? httpReply("200 OK", TypicalReply)
                           : httpReply("302 Found", {}, "Location: /moved\r\n"));
        };
    }
    if (mode == "redirect loop")
        return [](Connection &c) { c.send(httpReply("302 Found", {}, "Location: /again\r\n")); };
    if (mode == "redirect to ftp") {
        return [](Connection &c) {
            c.send(httpReply("302 Found", {}, "Location: ftp://127.0.0.1/quote\r\n"));
        };
    }
    if (mode == "latin-1 charset") {
        return [](Connection &c) {
            c.send(httpReply("200 OK",
                             "<QuoteData><StockChange>\xa3"
                             "1</StockChange></QuoteData>",
                             "Content-Type: text/xml; charset=ISO-8859-1\r\n"));
        };
    }
    if (mode == "silent")
        return [](Connection &c) { c.hold(); };
    if (mode == "endless chunked")
        return [](Connection &c) {
            sendChunked(c, QByteArray(qsizetype{64} * 1024, 'x'), 64 << 20);
        };
    if (mode == "2 MiB")
        return [](Connection &c) { c.send(httpReply("200 OK", QByteArray(2 << 20, 'x'))); };
    if (mode == "503 text") {
        return [](Connection &c) {
            c.send(httpReply("503 Service Unavailable",
                             "503 Service Unavailable: no recent quote from finnhub (HTTP 500)\n"
                             "retry later\n",
                             "Content-Type: text/plain; charset=utf-8\r\n"));
        };
    }
    if (mode == "404 empty")
        return [](Connection &c) { c.send(httpReply("404 Not Found", {})); };
    return [](Connection &c) { c.send(httpReply("200 OK", TypicalReply)); };
}

// The FakeClock's 21:05:07 in place of "{time}".
QString withFetchTime(QString text)
{
    return text.replace("{time}", QStringLiteral("09:05:07 ") + QLocale::system().pmText());
}

QString configPath()
{
    return AppShell::besideProgram(Quote::ConfigFile);
}

bool writeConfig(const QByteArray &text)
{
    QFile file(configPath());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Sends the quote requests to a test server, with a token of its own.
bool pointAt(quint16 port)
{
    return writeConfig("[QuoteService]\nHost=127.0.0.1:" + QByteArray::number(port)
                       + "\nLicenseKey=abcdef\n");
}

} // namespace

class TestQuote : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void quoteText_data();
    void quoteText();
    void notice_data();
    void notice();
    void replyThatIsNotXml_data();
    void replyThatIsNotXml();
    void replyEncoding_data();
    void replyEncoding();
    void requestUrl_data();
    void requestUrl();
    void configLookup_data();
    void configLookup();
    void requestOnTheWire();
    void servedReplies_data();
    void servedReplies();
    void failedFetch_data();
    void failedFetch();
    void bodyLimit_data();
    void bodyLimit();

private:
    std::unique_ptr<TestEnvironment> mEnv;
    QTemporaryDir mConfigFolders;
    Quote::SystemConfigFile mSystemConfig{mConfigFolders.filePath("etc/quote-service.ini")};
    const ScopedOverride<Quote::SystemConfigFile> mSystemConfigOverride{mSystemConfig};
};

void TestQuote::initTestCase()
{
    // The user's and the system's files live in a private folder, so the
    // machine's own never take part.
    QVERIFY(mConfigFolders.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(mConfigFolders.filePath("user")));
    QVERIFY2(!QFileInfo::exists(configPath()),
             qPrintable(configPath() + " would change every request; remove it first"));
}

void TestQuote::init()
{
    mEnv = std::make_unique<TestEnvironment>();
}

void TestQuote::cleanup()
{
    QFile::remove(configPath());
    QDir().rmdir(configPath());
    QDir(mConfigFolders.filePath("user")).removeRecursively();
    QDir(mConfigFolders.filePath("etc")).removeRecursively();
    mEnv.reset();
}

void TestQuote::quoteText_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected"); // {time}: the fetch time
    QTest::addColumn<QList<int>>("reportedSteps");

    QTest::newRow("typical reply") << TypicalReply << TypicalText << QList<int>{};
    QTest::newRow("stock change only") << QByteArray("<QuoteData><StockChange>1.5</StockChange>"
                                                     "</QuoteData>")
                                       << "MSFT\r\nStock Change: 1.5\r\n"
                                       << QList<int>{};
    QTest::newRow("last trade amount only")
            << QByteArray("<QuoteData><LastTradeAmount>12,50</LastTradeAmount></QuoteData>")
            << "MSFT\r\n12,50\r\n{time}" << QList<int>{};
    QTest::newRow("none of the names")
            << QByteArray("<QuoteData><Volume>7</Volume></QuoteData>") << "MSFT\r\n"
            << QList<int>{};
    QTest::newRow("empty reply") << QByteArray() << "" << QList<int>{};
    QTest::newRow("name only in text")
            << QByteArray("<QuoteData><Note>stockchange is late</Note>"
                          "<ChangePercent>+1%</ChangePercent></QuoteData>")
            << "MSFT\r\nPercentage Change: +1%\r\n"
            << QList<int>{114};
    QTest::newRow("name only in an attribute")
            << QByteArray("<QuoteData kind=\"LastTradeAmount\"/>") << "MSFT\r\n"
            << QList<int>{122};
    QTest::newRow("element names in other case")
            << QByteArray("<QuoteData><stockchange>1.5</stockchange>"
                          "<LASTTRADEAMOUNT>3</LASTTRADEAMOUNT></QuoteData>")
            << "MSFT\r\n"
            << QList<int>{114, 122};
    QTest::newRow("other root") << QByteArray("<Quote><StockChange>1.5</StockChange></Quote>")
                                << "MSFT\r\n"
                                << QList<int>{114};
    QTest::newRow("grandchild is not on the path")
            << QByteArray("<QuoteData><Q><StockChange>1.5</StockChange></Q></QuoteData>")
            << "MSFT\r\n"
            << QList<int>{114};
    QTest::newRow("first of two elements")
            << QByteArray("<QuoteData><StockChange>1</StockChange><StockChange>2</StockChange>"
                          "</QuoteData>")
            << "MSFT\r\nStock Change: 1\r\n"
            << QList<int>{};
    QTest::newRow("values verbatim")
            << QByteArray("<QuoteData><StockChange> +0,10 &amp; \xe2\x82\xac</StockChange>"
                          "<ChangePercent/></QuoteData>")
            << QString::fromUtf8("MSFT\r\nStock Change:  +0,10 & \u20ac\r\nPercentage Change: \r\n")
            << QList<int>{};
    QTest::newRow("default namespace")
            << QByteArray("<QuoteData xmlns=\"http://quotes.example/\"><StockChange>1.5"
                          "</StockChange></QuoteData>")
            << "MSFT\r\nStock Change: 1.5\r\n"
            << QList<int>{};
    QTest::newRow("nested to the limit") << nested(256) << "MSFT\r\nStock Change: 1.5\r\n"
                                         << QList<int>{};
    QByteArray attributes;
    for (int i = 0; i < 64; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"x=y>\"";
    QTest::newRow("attributes to the limit")
            << "<QuoteData" + attributes + "><StockChange>1.5</StockChange></QuoteData>"
            << "MSFT\r\nStock Change: 1.5\r\n"
            << QList<int>{};
    QTest::newRow("prefixed namespace")
            << QByteArray("<q:QuoteData xmlns:q=\"http://quotes.example/\"><q:StockChange>1.5"
                          "</q:StockChange></q:QuoteData>")
            << "MSFT\r\n"
            << QList<int>{114};
}

void TestQuote::quoteText()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    QFETCH(QList<int>, reportedSteps);
    mEnv->fetcher.reply = reply;

    QCOMPARE(displayQuote("MSFT"), withFetchTime(expected));
    QStringList reports;
    for (int step : reportedSteps)
        reports << errorReport(Errors::ObjectNotSet, "Form2", "getStockQuote", step);
    QCOMPARE(mEnv->dialogs.errorTexts(), reports);
    QCOMPARE(mEnv->dialogs.messages.size(), reports.size());
}

void TestQuote::notice_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected"); // the notice; the quote text never holds it

    QTest::newRow("none") << QByteArray("<QuoteData><StockChange>1</StockChange></QuoteData>")
                          << "";
    QTest::newRow("sample mode") << QByteArray("<QuoteData><StockChange>1</StockChange>"
                                               "<Notice>Simulated prices</Notice></QuoteData>")
                                 << "Simulated prices";
    QTest::newRow("one line") << QByteArray("<QuoteData><Notice> a\r\n b&#9;c\n</Notice>"
                                            "<StockChange>1</StockChange></QuoteData>")
                              << "a b c";
    QTest::newRow("cut to 120") << "<QuoteData><StockChange>1</StockChange><Notice>"
                    + QByteArray(130, 'x') + "</Notice></QuoteData>"
                                << QString(120, QLatin1Char('x'));
    QTest::newRow("only under the root")
            << QByteArray("<QuoteData><StockChange>1</StockChange><Q><Notice>x</Notice></Q>"
                          "</QuoteData>")
            << "";
    QTest::newRow("not XML keeps the last one") << QByteArray("<html>") << "previous";
}

void TestQuote::notice()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    ErrorTrap trap(QStringLiteral("Form2"), QStringLiteral("getStockQuote"));
    QString notice = QStringLiteral("previous");
    const QString text = Quote::buildQuoteText(trap, QStringLiteral("MSFT"),
                                               QString::fromUtf8(reply), nullptr, &notice);
    QCOMPARE(notice, expected);
    if (!text.isEmpty())
        QCOMPARE(text, QStringLiteral("MSFT\r\nStock Change: 1\r\n"));
}

void TestQuote::replyThatIsNotXml_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column"); // -1: whatever the parser says

    QTest::newRow("html page") << QByteArray("<html><body><p>Down<br></p></body></html>")
                               << "tag mismatch" << 1 << -1;
    QTest::newRow("truncated") << QByteArray("<QuoteData>\n<StockChange>1.5</Stock")
                               << "Premature end" << 2 << -1;
    QByteArray bomb
            = "<?xml version=\"1.0\"?>\n<!-- not <!DOCTYPE x> -->\n  <!DOCTYPE QuoteData [\n"
              "<!ENTITY e0 \"lol\">\n";
    for (int level = 1; level < 10; ++level) {
        bomb += "<!ENTITY e" + QByteArray::number(level) + " \""
                + QByteArray("&e" + QByteArray::number(level - 1) + ";").repeated(10) + "\">\n";
    }
    bomb += "]>\n<QuoteData><StockChange>&e9;</StockChange></QuoteData>";
    QTest::newRow("nested entities")
            << bomb << "Document type declarations are not accepted." << 3 << 3;
    // Each expansion stays under Qt's limit for one entity, the total does not.
    QTest::newRow("many references to a long entity")
            << "<!DOCTYPE QuoteData [<!ENTITY a \"" + QByteArray(4000, 'a')
                    + "\">]><QuoteData><StockChange>" + QByteArray("&a;").repeated(10000)
                    + "</StockChange></QuoteData>"
            << "Document type declarations are not accepted." << 1 << 1;
    QTest::newRow("plain doctype")
            << QByteArray("<!DOCTYPE QuoteData><QuoteData><StockChange>1</StockChange></QuoteData>")
            << "Document type declarations are not accepted." << 1 << 1;
    // The DOM parser takes the square of the depth in time and overflows the
    // stack at 140k levels (980 KB).
    const QString tooDeep = "Elements nested deeper than 256 levels are not accepted.";
    for (const int depth : {257, 300, 100'000, 140'000})
        QTest::addRow("nested %d deep", depth) << nested(depth) << tooDeep << 1 << -1;
    // The readers take the square of the attributes of one element in time.
    const QString tooMany = "Elements with more than 64 attributes are not accepted.";
    for (const int count : {65, 50'000}) {
        QByteArray element = "<StockChange";
        for (int i = 0; i < count; ++i)
            element += " a" + QByteArray::number(i) + "='=>'";
        QTest::addRow("%d attributes", count)
                << "<?xml version=\"1.0\"?>\n<!-- <a " + QByteArray("b=1 ").repeated(70)
                        + "> -->\n<QuoteData>\n  " + element + ">1</StockChange></QuoteData>"
                << tooMany << 4 << 3;
    }
}

void TestQuote::replyThatIsNotXml()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, reason);
    QFETCH(int, line);
    QFETCH(int, column);
    mEnv->fetcher.reply = reply;

    QCOMPARE(displayQuote("MSFT"), QString());
    QCOMPARE(mEnv->dialogs.messages.size(), 1);
    const ShownMessage &box = mEnv->dialogs.messages.first();
    QCOMPARE(box.title, AppShell::appTitle());
    QCOMPARE(box.icon, BoxIcon::None);
    const QRegularExpression layout(QRegularExpression::anchoredPattern(
            "Error reading XML API\r\nerror:(.+)\r\n\r\nLine:(\\d+)\r\nposition:(\\d+)"));
    const QRegularExpressionMatch match = layout.match(box.text);
    QVERIFY2(match.hasMatch(), qPrintable(box.text));
    QVERIFY2(match.captured(1).contains(reason), qPrintable(match.captured(1)));
    QCOMPARE(match.captured(2).toInt(), line);
    if (column >= 0)
        QCOMPARE(match.captured(3).toInt(), column);
}

void TestQuote::replyEncoding_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray quote = "<QuoteData><StockChange>\xa3"
                             "1</StockChange></QuoteData>";
    const QByteArray utf8 = QString::fromLatin1(quote).toUtf8();
    const QByteArray latinDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    QTest::newRow("declared latin-1") << QByteArray() << latinDeclaration + quote;
    QTest::newRow("sent as latin-1") << QByteArray("text/xml; charset=\"iso-8859-1\"") << quote;
    QTest::newRow("charset over declaration")
            << QByteArray("text/xml;charset=UTF-8") << latinDeclaration + utf8;
    QTest::newRow("neither: UTF-8") << QByteArray("text/xml") << utf8;
    QTest::newRow("unknown charset: UTF-8") << QByteArray("text/xml; charset=x-none") << utf8;
    QStringEncoder toUtf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QTest::newRow("UTF-16 with a byte order mark")
            << QByteArray("text/xml; charset=iso-8859-1")
            << QByteArray(toUtf16(QString::fromLatin1(latinDeclaration + quote)));
}

void TestQuote::replyEncoding()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, reply);
    mEnv->fetcher.reply = reply;
    mEnv->fetcher.type = contentType;

    QCOMPARE(displayQuote("MSFT"), QString::fromUtf8("MSFT\r\nStock Change: \u00a31\r\n"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestQuote::requestUrl_data()
{
    QTest::addColumn<QByteArray>("config"); // null: no file; "/": a folder in its place
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("query");

    const QByteArray none;
    QTest::newRow("built-in, lower case")
            << none << "msft" << Host << "StockSymbol=msft&LicenseKey=" + Token;
    QTest::newRow("blank, ampersand, equals")
            << none << "A B&C=D" << Host << "StockSymbol=A%20B%26C%3DD&LicenseKey=" + Token;
    QTest::newRow("non-ascii and reserved")
            << none << QString::fromUtf8("\xc3\x84+/?#.-_~") << Host
            << "StockSymbol=%C3%84%2B%2F%3F%23.-_~&LicenseKey=" + Token;
    const QByteArray section = "[QuoteService]\n";
    QTest::newRow("file overrides") << section + "Host=quotes.example.com:8080\nLicenseKey=abcdef"
                                    << "X"
                                    << "quotes.example.com:8080"
                                    << "StockSymbol=X&LicenseKey=abcdef";
    QTest::newRow("names in other case")
            << QByteArray("; local service\r\n[quoteservice]\r\n host = [::1]:8780 \r\n"
                          "LICENSEKEY=abc123\r\n")
            << "X"
            << "[::1]:8780"
            << "StockSymbol=X&LicenseKey=abc123";
    QTest::newRow("host only") << section + "Host=10.0.0.5"
                               << "X"
                               << "10.0.0.5"
                               << "StockSymbol=X&LicenseKey=" + Token;
    const QString fallback = "StockSymbol=X&LicenseKey=" + Token;
    QTest::newRow("host with blank") << section + "Host=bad host"
                                     << "X" << Host << fallback;
    QTest::newRow("host with path") << section + "Host=a.example/x?y="
                                    << "X" << Host << fallback;
    QTest::newRow("host with user") << section + "Host=me@a.example"
                                    << "X" << Host << fallback;
    QTest::newRow("empty host") << section + "Host="
                                << "X" << Host << fallback;
    QTest::newRow("token in capitals") << section + "LicenseKey=ABCDEF"
                                       << "X" << Host << fallback;
    QTest::newRow("token too long") << section + "LicenseKey=abcdefg"
                                    << "X" << Host << fallback;
    QTest::newRow("other section")
            << QByteArray("[Other]\nHost=a.example") << "X" << Host << fallback;
    QTest::newRow("unreadable") << QByteArray("/") << "X" << Host << fallback;
}

void TestQuote::requestUrl()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, symbol);
    QFETCH(QString, host);
    QFETCH(QString, query);
    if (config == "/")
        QVERIFY(QDir().mkdir(configPath()));
    else if (!config.isNull())
        QVERIFY(writeConfig(config));

    QCOMPARE(Quote::requestUrl(symbol), "http://" + host + Path + "?" + query);
}

void TestQuote::configLookup_data()
{
    // The file's text in each place (null: absent), the host and token the
    // request then carries, and which place holds a bad value to report.
    QTest::addColumn<QByteArray>("beside");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("reportedIn"); // "", "beside", "user", "system"
    QTest::addColumn<QString>("reportedValue");

    const QByteArray none;
    const QByteArray a = "[QuoteService]\nHost=a.example\n";
    const QByteArray b = "[QuoteService]\nHost=b.example\nLicenseKey=bbbbbb\n";
    const QByteArray c = "[QuoteService]\nHost=c.example\n";
    QTest::newRow("beside only") << a << none << none << "a.example" << Token << ""
                                 << "";
    QTest::newRow("user only") << none << b << none << "b.example"
                               << "bbbbbb"
                               << ""
                               << "";
    QTest::newRow("system only") << none << none << c << "c.example" << Token << ""
                                 << "";
    QTest::newRow("beside wins") << a << b << c << "a.example" << Token << ""
                                 << "";
    QTest::newRow("user wins over system") << none << b << c << "b.example"
                                           << "bbbbbb"
                                           << ""
                                           << "";
    // The first file present wins even when a value in it is bad: that value
    // falls back to the built-in one, not to another file.
    QTest::newRow("bad host beside")
            << QByteArray("[QuoteService]\nHost=wall screen\nLicenseKey=aaaaaa\n") << b << c << Host
            << "aaaaaa"
            << "beside"
            << "Host=\"wall screen\"";
    QTest::newRow("bad token in user's")
            << none << QByteArray("[QuoteService]\nHost=b.example\nLicenseKey=Secret7\n") << c
            << "b.example" << Token << "user"
            << "LicenseKey=\"Secret7\"";
    QTest::newRow("bad host in system's")
            << none << none << QByteArray("[quoteservice]\nhost=me@c.example/x\n") << Host << Token
            << "system"
            << "host=\"me@c.example/x\"";
}

void TestQuote::configLookup()
{
    QFETCH(QByteArray, beside);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, system);
    QFETCH(QString, host);
    QFETCH(QString, token);
    QFETCH(QString, reportedIn);
    QFETCH(QString, reportedValue);

    const QString userFile = mConfigFolders.filePath("user/tallow-marquee/quote-service.ini");
    const QMap<QString, QString> places{
            {"beside", configPath()}, {"user", userFile}, {"system", mSystemConfig.path()}};
    const auto place = [](const QString &path, const QByteArray &text) {
        if (text.isNull())
            return true;
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
                && file.write(text) == text.size();
    };
    QVERIFY(place(places["beside"], beside));
    QVERIFY(place(places["user"], user));
    QVERIFY(place(places["system"], system));

    // A bad value is reported once, naming the file and the value; the next
    // request, which reads the file again, says nothing more.
    if (!reportedIn.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QRegularExpression::escape(
                                     places[reportedIn] + ": ignoring " + reportedValue)));
    }
    QTest::failOnWarning(QRegularExpression("quote-service"));
    const QString expected = "http://" + host + Path + "?StockSymbol=X&LicenseKey=" + token;
    QCOMPARE(Quote::requestUrl("X"), expected);
    QCOMPARE(Quote::requestUrl("X"), expected);
}

void TestQuote::requestOnTheWire()
{
    TestServer server(responder("quote"));
    QVERIFY(pointAt(server.port()));
    const QString symbol = "ms ft&x=1";

    const ScopedOverride<Quote::Fetcher> network(Quote::Fetcher::production());
    const QString text = displayQuote(symbol);
    // The first line is the symbol as typed, unencoded.
    QCOMPARE(text, withFetchTime(TypicalText).replace(0, 4, symbol));
    QCOMPARE(server.heads().size(), 1);
    const QList<QByteArray> lines = server.heads().first().trimmed().split('\n');
    QCOMPARE(lines.first().trimmed(),
             "GET " + Path + "?StockSymbol=ms%20ft%26x%3D1&LicenseKey=abcdef HTTP/1.1");
    QByteArrayList headers;
    for (const QByteArray &line : lines.mid(1))
        headers << line.left(line.indexOf(':'));
    // The HTTP component's own headers only.
    QCOMPARE(headers,
             QByteArrayList(
                     {"Host", "Connection", "Accept-Encoding", "Accept-Language", "User-Agent"}));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestQuote::servedReplies_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("xmlBox");

    QTest::newRow("redirect followed") << "redirect" << TypicalText << false;
    QTest::newRow("empty body") << "empty"
                                << "" << false;
    QTest::newRow("charset of the reply")
            << "latin-1 charset" << QString::fromUtf8("MSFT\r\nStock Change: \u00a31\r\n") << false;
}

void TestQuote::servedReplies()
{
    QFETCH(QString, mode);
    QFETCH(QString, expected);
    QFETCH(bool, xmlBox);
    TestServer server(responder(mode));
    QVERIFY(pointAt(server.port()));

    const ScopedOverride<Quote::Fetcher> network(Quote::Fetcher::production());
    const QString text = displayQuote("MSFT");
    QCOMPARE(text, withFetchTime(expected));
    QCOMPARE(mEnv->dialogs.messages.size(), xmlBox ? 1 : 0);
    if (xmlBox)
        QVERIFY(mEnv->dialogs.messages.first().text.startsWith("Error reading XML API\r\n"));
}

void TestQuote::failedFetch_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("timeLimitMs");
    QTest::addColumn<QString>("description"); // a pattern

    const QString tooLarge = "^The quote service sent more than 64 KiB; the reply was refused\\.$";
    // Refused on this machine: the report says how to start the bundled service.
    QTest::newRow("connection refused")
            << "refused" << 5000
            << "^Connection refused\\. To start the quote service, run: systemctl --user enable "
               "--now tallow-quoted$";
    QTest::newRow("no answer") << "silent" << 1000
                               << "^The quote service did not answer within 1 seconds\\.$";
    // A status other than 2xx fails the fetch, whatever the body holds.
    QTest::newRow("HTTP 500 with an html page") << "html 500" << 5000 << "^HTTP 500: <html><body>";
    QTest::newRow("HTTP 500 with a quote") << "xml 500" << 5000 << "^HTTP 500: <\\?xml ";
    QTest::newRow("HTTP 503 with the service's reason")
            << "503 text" << 5000 << "^HTTP 503: no recent quote from finnhub \\(HTTP 500\\)$";
    QTest::newRow("HTTP 404 without a body") << "404 empty" << 5000 << "^HTTP 404: Not Found$";
    QTest::newRow("2 MiB body") << "2 MiB" << 5000 << tooLarge;
    QTest::newRow("endless chunked body") << "endless chunked" << 5000 << tooLarge;
    QTest::newRow("redirect loop") << "redirect loop" << 5000 << "^Too many redirects$";
    QTest::newRow("redirect to ftp") << "redirect to ftp" << 5000 << "^HTTP 302: Found$";
}

void TestQuote::failedFetch()
{
    QFETCH(QString, mode);
    QFETCH(int, timeLimitMs);
    QFETCH(QString, description);
    Quote::NetworkFetcher fetcher{std::chrono::milliseconds(timeLimitMs)};
    const ScopedOverride<Quote::Fetcher> network(fetcher);
    RefusingPort refusing;
    TestServer server(responder(mode));
    const quint16 port = mode == "refused" ? refusing.port() : server.port();
    QVERIFY(pointAt(port));

    QCOMPARE(displayQuote("MSFT"), QString());
    QCOMPARE(mEnv->dialogs.messages.size(), 1);
    const QStringList reports = mEnv->dialogs.errorTexts();
    QCOMPARE(reports.size(), 1);
    const QString given = reports.first().section(CrLf, 0, 0);
    QCOMPARE(reports.first(), errorReport(given, "Form2", "getStockQuote", 100));
    description.replace("{port}", QString::number(port));
    QVERIFY2(given.contains(QRegularExpression(description)), qPrintable(given));
}

void TestQuote::bodyLimit_data()
{
    QTest::addColumn<QString>("framing");
    QTest::addColumn<int>("size");

    for (const char *framing : {"length", "chunked", "close"}) {
        QTest::addRow("%s, at the limit", framing) << framing << 64;
        QTest::addRow("%s, one byte over", framing) << framing << 65;
    }
}

void TestQuote::bodyLimit()
{
    QFETCH(QString, framing);
    QFETCH(int, size);
    const QByteArray body(size, 'q');
    TestServer server([&](Connection &c) {
        if (framing == "length")
            c.send(httpReply("200 OK", body));
        else if (framing == "chunked")
            sendChunked(c, body.left(size == 64 ? 16 : 13), size);
        else
            c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
    });
    Quote::NetworkFetcher fetcher(5s, 64);
    const QString url = "http://127.0.0.1:" + QString::number(server.port()) + "/";

    try {
        QCOMPARE(fetcher.get(url), body);
        QCOMPARE(size, 64);
    } catch (const RuntimeError &error) {
        QCOMPARE(size, 65);
        QCOMPARE(error.description(),
                 QStringLiteral(
                         "The quote service sent more than 64 bytes; the reply was refused."));
    }
}

QTEST_MAIN(TestQuote)
#include "tst_quote.moc"
