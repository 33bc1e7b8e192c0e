// The provider gateway without a network: provider replies read into quotes,
// and the cache driven by a fake clock and a scripted provider.
#include "gateway.h"
#include "quotebook.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <thread>

using namespace quoted;

Q_DECLARE_METATYPE(quoted::Provider)

namespace {

const std::string kKey = "made-up-key-42";

// "Name=value" pairs of the fields, separated by blanks.
QString describe(const Outcome &outcome)
{
    QStringList parts;
    for (const auto &[name, value] : outcome.fields)
        parts << QString::fromStdString(std::string(name) + "=" + value);
    return parts.join(' ');
}

} // namespace

class TestGateway : public QObject
{
    Q_OBJECT

private slots:
    void readsProviderReplies_data()
    {
        QTest::addColumn<Provider>("provider");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected"); // the fields, or a part of the reason
        QTest::addColumn<int>("pause");

        const Provider F = providerNamed("finnhub"), A = providerNamed("alphavantage"),
                       T = providerNamed("twelvedata");
        const int quote = Outcome::Quote, unknown = Outcome::Unknown,
                  limited = Outcome::RateLimited, failed = Outcome::Failed;
        QTest::newRow("finnhub quote")
                << F << 200
                << QByteArray(R"({"c":189.5,"d":-1.25,"dp":-0.6553,"h":191.2,"l":188,)"
                              R"("o":190.755,"pc":190.75,"t":1765209600})")
                << QByteArray() << quote
                << "LastTradeAmount=189.50 LastTradeDateTime=2025-12-08T16:00:00 "
                   "StockChange=-1.25 ChangePercent=-0.66% OpenAmount=190.76 DayHigh=191.20 "
                   "DayLow=188.00 PrevCls=190.75"
                << 0;
        QTest::newRow("finnhub below a dollar")
                << F << 200 << QByteArray(R"({"c":0.4567,"d":0.0123,"dp":2.7666,"pc":0.4444})")
                << QByteArray() << quote
                << "LastTradeAmount=0.4567 StockChange=+0.0123 ChangePercent=+2.77% "
                   "PrevCls=0.4444"
                << 0;
        QTest::newRow("finnhub change too small to show")
                << F << 200 << QByteArray(R"({"c":1000.01,"d":0.01,"dp":0.001,"pc":1000})")
                << QByteArray() << quote
                << "LastTradeAmount=1000.01 StockChange=+0.01 ChangePercent=+0.00% "
                   "PrevCls=1000.00"
                << 0;
        QTest::newRow("finnhub unknown symbol")
                << F << 200
                << QByteArray(R"({"c":0,"d":null,"dp":null,"h":0,"l":0,"o":0,"pc":0,"t":0})")
                << QByteArray() << unknown << QString() << 0;
        QTest::newRow("finnhub bad key")
                << F << 401 << QByteArray(R"({"error":"Invalid API key"})") << QByteArray()
                << failed << "HTTP 401: Invalid API key" << 0;
        QTest::newRow("429 with Retry-After")
                << F << 429 << QByteArray("{}") << QByteArray("30") << limited << "HTTP 429" << 30;
        QTest::newRow("429 asking for a day") // paused for an hour at most
                << F << 429 << QByteArray("{}") << QByteArray("86400") << limited << "HTTP 429"
                << 3600;
        QTest::newRow("429 without Retry-After")
                << F << 429 << QByteArray() << QByteArray() << limited << "HTTP 429" << 60;
        QTest::newRow("alphavantage quote")
                << A << 200
                << QByteArray(R"({"Global Quote": {"01. symbol": "IBM", "02. open": "190.0000",)"
                              R"( "03. high": "191.5000", "04. low": "188.1000",)"
                              R"( "05. price": "189.5000", "06. volume": "3052100",)"
                              R"( "07. latest trading day": "2026-12-07",)"
                              R"( "08. previous close": "190.7500", "09. change": "-1.2500",)"
                              R"( "10. change percent": "-0.6553%"}})")
                << QByteArray() << quote
                << "LastTradeAmount=189.50 LastTradeDateTime=2026-12-07T00:00:00 "
                   "StockChange=-1.25 ChangePercent=-0.66% OpenAmount=190.00 DayHigh=191.50 "
                   "DayLow=188.10 PrevCls=190.75 StockVolume=3052100"
                << 0;
        QTest::newRow("alphavantage unknown symbol")
                << A << 200 << QByteArray(R"({"Global Quote": {}})") << QByteArray() << unknown
                << QString() << 0;
        QTest::newRow("alphavantage error")
                << A << 200
                << QByteArray(R"({"Error Message": "Invalid API call. apikey=made-up-key-42"})")
                << QByteArray() << failed << "Invalid API call" << 0;
        QTest::newRow("alphavantage note")
                << A << 200 << QByteArray(R"({"Note": "Thank you for using it."})") << QByteArray()
                << limited << "Thank you" << 60;
        QTest::newRow("alphavantage information")
                << A << 200
                << QByteArray(R"({"Information": "Our standard API rate limit is 25 a day."})")
                << QByteArray() << limited << "rate limit" << 60;
        QTest::newRow("twelvedata quote")
                << T << 200
                << QByteArray(R"({"symbol":"IBM","name":"IBM","exchange":"NYSE",)"
                              R"("datetime":"2026-12-07","timestamp":1765209600,"open":"190",)"
                              R"("high":"191.5","low":"188.1","close":"189.5","volume":"3052100",)"
                              R"("previous_close":"190.75","change":"-1.25",)"
                              R"("percent_change":"-0.6553","is_market_open":false})")
                << QByteArray() << quote
                << "LastTradeAmount=189.50 LastTradeDateTime=2025-12-08T16:00:00 "
                   "StockChange=-1.25 ChangePercent=-0.66% OpenAmount=190.00 DayHigh=191.50 "
                   "DayLow=188.10 PrevCls=190.75 StockVolume=3052100"
                << 0;
        QTest::newRow("twelvedata limit in a 200")
                << T << 200
                << QByteArray(R"({"code":429,"message":"You have run out of API credits",)"
                              R"("status":"error"})")
                << QByteArray() << limited << "run out" << 60;
        QTest::newRow("twelvedata bad key")
                << T << 401
                << QByteArray(R"({"code":401,"message":"**apikey** is invalid","status":"error"})")
                << QByteArray() << failed << "code 401: **apikey** is invalid" << 0;
        QTest::newRow("twelvedata unknown symbol")
                << T << 200
                << QByteArray(R"({"code":404,"message":"symbol not found","status":"error"})")
                << QByteArray() << unknown << QString() << 0;
        QTest::newRow("malformed JSON") << F << 200 << QByteArray(R"({"c":189.5,)") << QByteArray()
                                        << failed << "not JSON" << 0;
        QTest::newRow("HTML") << T << 502 << QByteArray("<html><body>Bad gateway</body></html>")
                              << QByteArray() << failed << "HTTP 502 with a reply that is not JSON"
                              << 0;
        QTest::newRow("empty body")
                << A << 200 << QByteArray() << QByteArray() << failed << "empty reply" << 0;
        QTest::newRow("JSON without a price") << F << 200 << QByteArray(R"({"c":"many"})")
                                              << QByteArray() << failed << "no price" << 0;
        QTest::newRow("absurd number") << F << 200 << QByteArray(R"({"c":1e300})") << QByteArray()
                                       << failed << "no price" << 0;
        QTest::newRow("negative price") << F << 200 << QByteArray(R"({"c":-5.5,"pc":-0.0000001})")
                                        << QByteArray() << failed << "implausible price" << 0;
        QTest::newRow("previous close near zero")
                << F << 200 << QByteArray(R"({"c":5.5,"pc":0.00009})") << QByteArray() << failed
                << "implausible previous close" << 0;
        QTest::newRow("quote time past the year 9999")
                << T << 200 << QByteArray(R"({"close":"5.5","timestamp":999999999999})")
                << QByteArray() << failed << "implausible quote time" << 0;
        QTest::newRow("percent too large to show")
                << F << 200 << QByteArray(R"({"c":0.23,"d":173366222123,"pc":0.5})") << QByteArray()
                << quote << "LastTradeAmount=0.2300 StockChange=+173366222123.0000 PrevCls=0.5000"
                << 0;
    }
    void readsProviderReplies()
    {
        QFETCH(Provider, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        QFETCH(int, pause);

        const Outcome outcome = readProviderReply(
                provider, ProviderReply{status, body.toStdString(), retryAfter.toStdString(), {}});
        QCOMPARE(int(outcome.kind), kind);
        if (kind == Outcome::Quote || kind == Outcome::Unknown)
            QCOMPARE(describe(outcome), expected);
        else
            QVERIFY2(QString::fromStdString(outcome.reason).contains(expected),
                     outcome.reason.c_str());
        QCOMPARE(outcome.pauseSeconds, pause);
    }

    void buildsRequestsAndHidesTheKey()
    {
        const Provider finnhub = providerNamed("finnhub");
        QCOMPARE(
                providerUrl(providerNamed("finnhub"), "http://127.0.0.1:1/v1/", "brk.b&x y", "k+y"),
                std::string("http://127.0.0.1:1/v1/quote?symbol=BRK.B%26X%20Y&token=k%2By"));
        QCOMPARE(providerUrl(providerNamed("alphavantage"), "https://a", "ibm", "k"),
                 std::string("https://a/query?function=GLOBAL_QUOTE&symbol=IBM&apikey=k"));
        QCOMPARE(redact("bad key k+y in https://x/quote?symbol=A&token=k%2By&x=1", "k+y", finnhub),
                 std::string("bad key [key] in https://x/quote?symbol=A&token=[key]&x=1"));
        QCOMPARE(redact("apikey=other\" given", "s3cr3t", providerNamed("alphavantage")),
                 std::string("apikey=[key]\" given"));
        // Echoed in another case, or escaped as JSON writes it.
        QCOMPARE(redact("bad K+Y, k%2bY", "k+y", finnhub), std::string("bad [key], [key]"));
        const std::string echoed = "{\"e\":\"k\\\"\\u00e9y\"}"; // {"e":"k\"\u00e9y"}
        QCOMPARE(redact(echoed, "k\"\xC3\xA9y", finnhub), std::string("{\"e\":\"[key]\"}"));
    }

    // One symbol through a scripted provider, with the clock moved by hand.
    void cachesWithinPeriodsAndServesStale()
    {
        using namespace std::chrono;
        steady_clock::time_point now{};
        ProviderReply next;
        std::vector<std::string> urls, logs;
        Gateway gateway(
                {providerNamed("finnhub"), "http://stand-in", kKey, seconds(60), seconds(900)},
                [&](const std::string &url) {
                    urls.push_back(url);
                    return next;
                },
                [&] { return now; }, [&](const std::string &line) { logs.push_back(line); });
        const ProviderReply good{200, R"({"c":10.5,"pc":10,"t":1765209600})", {}, {}},
                better{200, R"({"c":11,"pc":10,"t":1765210200})", {}, {}},
                unknown{200, R"({"c":0})", {}, {}},
                reset{0, {}, {}, "Recv failure: Connection reset by peer"},
                limited{429, {}, "300", {}},
                // The key where a long text used to be cut short.
                echoing{401,
                        "{\"error\":\"" + std::string(150, '.') + " made-up-key-42 token=x\"}",
                        {},
                        {}};
        struct Step
        {
            int at; // seconds
            const char *symbol;
            ProviderReply reply;
            int status;
            const char *last; // LastTradeAmount in the answer, or the 503 text
            size_t requests, logLines;
            const char *notice = ""; // the Notice element of a 200, "" for none
        };
        const char *const unreachable = "As of 16:00 UTC, finnhub unreachable",
                          *const unreachableLater = "As of 16:10 UTC, finnhub unreachable";
        const Step steps[] = {
                {0, "ACME", good, 200, "10.50", 1, 0},
                {59, "acme", reset, 200, "10.50", 1, 0}, // cached: the provider is not asked
                // failed: the stale quote stands in
                {60, "ACME", reset, 200, "10.50", 2, 1, unreachable},
                // one request per period, also after a failure
                {119, "ACME", good, 200, "10.50", 2, 1, unreachable},
                {120, "ACME", better, 200, "11.00", 3, 1},
                {180, "ACME", limited, 200, "11.00", 4, 2, unreachableLater}, // paused for 300 s
                {200, "OTHER", good, 503, "rate limit", 4, 2}, // nothing cached, provider paused
                {480, "OTHER", good, 200, "10.50", 5, 2},
                {1019, "ACME", reset, 200, "11.00", 6, 3, unreachableLater}, // 899 s old: served
                {1080, "ACME", echoing, 503, "no recent quote from finnhub", 7, 4}, // too old
                {1090, "Nope", unknown, 200, "<StockSymbol>Nope<", 8, 4, "No quote for Nope"},
        };
        for (const Step &step : steps) {
            now = steady_clock::time_point(seconds(step.at));
            next = step.reply;
            const Gateway::Answer answer = gateway.quote(step.symbol);
            const QByteArray where = "at " + QByteArray::number(step.at) + " s";
            QVERIFY2(answer.status == step.status, where);
            QVERIFY2(answer.body.find(step.last) != std::string::npos, where + answer.body.c_str());
            if (answer.status == 200) {
                QVERIFY2(answer.body.find(std::string(">") + step.symbol + "<")
                                 != std::string::npos,
                         where);
                const std::string notice = *step.notice
                        ? "<Notice>" + std::string(step.notice) + "</Notice>"
                        : "<Notice>";
                QVERIFY2((answer.body.find(notice) != std::string::npos) == (*step.notice != 0),
                         where + answer.body.c_str());
            }
            QVERIFY2(urls.size() == step.requests, where);
            QVERIFY2(logs.size() == step.logLines, where);
        }
        QCOMPARE(urls.front(), "http://stand-in/quote?symbol=ACME&token=" + kKey);
        QVERIFY(logs.front().find("provider finnhub, symbol ACME: Recv failure") == 0);
        for (const auto &line : logs)
            QVERIFY2(line.find(kKey.substr(0, 7)) == std::string::npos, line.c_str());
    }

    // The cache holds at most maxSymbols: the least recently used entry goes,
    // never one a request is fetching or waiting for; with none to spare the
    // answer is 503. Run under the sanitizers, this also catches an entry freed
    // while a request still waits on it.
    void boundsTheCacheWhileRequestsWait()
    {
        using namespace std::chrono;
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<int> calls{0};
        Gateway gateway(
                {providerNamed("finnhub"), "http://stand-in", kKey, seconds(0), seconds(900), 2},
                [&](const std::string &url) {
                    ++calls;
                    if (url.find("symbol=HELD") != std::string::npos) {
                        std::unique_lock lock(mutex);
                        released.wait(lock, [&] { return release; });
                    }
                    return ProviderReply{200, R"({"c":10.5,"pc":10})", {}, {}};
                },
                [] { return steady_clock::now(); }, [](const std::string &) {});
        std::vector<std::thread> held;
        std::atomic<int> heldAnswers{0};
        for (int i = 0; i < 3; ++i)
            held.emplace_back([&] { heldAnswers += gateway.quote("HELD").status == 200; });
        QTRY_COMPARE(calls.load(), 1); // one fetch in flight, the others wait for it
        // HELD stays; the other place is taken in turn.
        for (const char *symbol : {"A", "B", "C", "A"})
            QCOMPARE(gateway.quote(symbol).status, 200);
        QCOMPARE(calls.load(), 5);
        held.emplace_back([&] { heldAnswers += gateway.quote("HELD2").status == 200; });
        QTRY_COMPARE(calls.load(), 6);
        const Gateway::Answer full = gateway.quote("D");
        QCOMPARE(full.status, 503);
        QVERIFY(full.body.find("too many symbols") != std::string::npos);
        QCOMPARE(calls.load(), 6); // refused without asking the provider

        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
        for (auto &thread : held)
            thread.join();
        QCOMPARE(heldAnswers.load(), 4);
        QCOMPARE(gateway.quote("D").status, 200);
    }

    void readsOnlyRegularFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("failure");
        QTest::newRow("regular") << "small" << QString();
        QTest::newRow("over the limit") << "large"
                                        << "larger than";
        QTest::newRow("device") << "/dev/zero"
                                << "not a regular file";
        QTest::newRow("FIFO") << "fifo"
                              << "not a regular file";
        QTest::newRow("directory") << "."
                                   << "not a regular file";
        QTest::newRow("missing") << "missing"
                                 << "No such file";
    }
    void readsOnlyRegularFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        QFile small("small"), large("large");
        QVERIFY(small.open(QIODevice::WriteOnly) && small.write("abc") == 3);
        QVERIFY(large.open(QIODevice::WriteOnly) && large.write(QByteArray(2 << 20, 'x')));
        small.close();
        large.close();
        QCOMPARE(::mkfifo("fifo", 0600), 0);
        std::string text = "old";
        const std::string problem = readRegularFile(path.toStdString(), 1 << 20, text);
        QVERIFY2(failure.isEmpty() ? problem.empty()
                                   : QString::fromStdString(problem).contains(failure),
                 problem.c_str());
        QCOMPARE(QString::fromStdString(text), failure.isEmpty() ? "abc" : "");
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
    }
};

QTEST_GUILESS_MAIN(TestGateway)
#include "tst_gateway.moc"
