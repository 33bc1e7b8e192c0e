// Unit tests of the quote table, the price walk and the XML reply of tallow-quoted.
#include "quotebook.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QtTest>

using namespace quoted;

namespace {

QMap<QString, QString> elements(const std::string &xml)
{
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    QMap<QString, QString> values;
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("QuoteData"))
        return {};
    while (reader.readNextStartElement())
        values.insert(reader.name().toString(), reader.readElementText());
    return reader.hasError() ? QMap<QString, QString>() : values;
}

} // namespace

class TestQuotebook : public QObject
{
    Q_OBJECT

private slots:
    void walkIsDeterministicBoundedAndMoving()
    {
        const std::int64_t firstSlot = 20'000 * kSlotsPerDay; // a UTC midnight
        for (const Cents close : {Cents(5), Cents(50), Cents(1137), Cents(41237), Cents(146280)}) {
            const Listing listing{"SYM" + std::to_string(close), close, std::nullopt};
            Quote previous;
            for (std::int64_t slot = firstSlot; slot < firstSlot + 3 * kSlotsPerDay; ++slot) {
                const Quote q = quoteAt(listing, slot);
                QCOMPARE(quoteAt(listing, slot).last, q.last);
                QCOMPARE(q.open, close);
                QVERIFY(std::abs(q.last - close) <= close / 10);
                QVERIFY(q.low <= q.last && q.last <= q.high);
                QVERIFY(q.volume > 0);
                if (slot % kSlotsPerDay == 0) {
                    QCOMPARE(q.last, close); // each day opens at the previous close
                } else {
                    QVERIFY(q.volume > previous.volume);
                    if (close >= 10) // cheaper than ten cents has no room to move
                        QVERIFY(q.last != previous.last);
                }
                previous = q;
            }
        }
    }

    void walkDependsOnSymbolNotItsCase()
    {
        const std::int64_t slot = 20'000 * kSlotsPerDay + 90;
        const Listing msft{"MSFT", 41237, std::nullopt};
        const Listing lower{"msft", 41237, std::nullopt};
        const Listing ibm{"IBM", 41237, std::nullopt};
        QCOMPARE(quoteAt(lower, slot).last, quoteAt(msft, slot).last);
        QVERIFY(quoteAt(ibm, slot).last != quoteAt(msft, slot).last
                || quoteAt(ibm, slot + 1).last != quoteAt(msft, slot + 1).last);
        const Quote fixed = quoteAt({"X", 1000, Cents(900)}, slot);
        QCOMPARE(fixed.last, Cents(900));
        QCOMPARE(fixed.high, Cents(1000));
        QCOMPARE(fixed.low, Cents(900));
    }

    void parsesTablesAndSkipsBadRows()
    {
        std::vector<std::string> problems;
        const auto good = parseTable("\xEF\xBB\xBF\r\nLast , Symbol,previous_close\r\n"
                                     ",msft,412.37\r\n\r\n12.5,Foo Bar,10\n"
                                     ",BAD,abc\n,NEG,-1\n,ZERO,0\n,INF,1e99\n,,5\n"
                                     "9,TOO,1,2\n,MSFT,1\nx,LASTBAD,3\n",
                                     problems);
        QVERIFY(good);
        QCOMPARE(good->bySymbol.size(), size_t(2));
        QCOMPARE(problems.size(), size_t(8));
        QCOMPARE(QString::fromStdString(problems.front()),
                 QString("line 6: price is not a positive number"));
        QVERIFY(good->find("MSFT") && good->find("Msft")->previousClose == 41237
                && !good->find("msft")->last);
        QCOMPARE(good->find("foo bar")->last, std::optional<Cents>(1250));
        QVERIFY(!good->find("BAD") && !good->find("TOO") && !good->find("LASTBAD"));

        for (const char *unusable : {"", "\n\n", "previous_close\nA,1\n", "MSFT,412.37\n"}) {
            problems.clear();
            QVERIFY(!parseTable(unusable, problems));
            QCOMPARE(problems.size(), size_t(1));
        }
    }

    void shippedTableIsClean()
    {
        QFile file(QStringLiteral(QUOTES_CSV));
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::vector<std::string> problems;
        const auto table = parseTable(file.readAll().toStdString(), problems);
        QVERIFY(table && problems.empty());
        QVERIFY(table->bySymbol.size() >= 30);
        // The program's first-start symbol and the examples it and the READMEs give.
        for (const char *symbol : {"GOOG", "MSFT"})
            QVERIFY2(table->find(symbol), symbol);
    }

    void formatsQuoteXml_data()
    {
        QTest::addColumn<Cents>("close");
        QTest::addColumn<Cents>("last");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("percent");
        QTest::newRow("up") << Cents(41237) << Cents(41362) << "+1.25"
                            << "+0.30%";
        QTest::newRow("down") << Cents(41237) << Cents(41197) << "-0.40"
                              << "-0.10%";
        QTest::newRow("flat") << Cents(41237) << Cents(41237) << "0.00"
                              << "0.00%";
        QTest::newRow("tiny drop") << Cents(41237) << Cents(41236) << "-0.01"
                                   << "-0.00%";
        QTest::newRow("half up") << Cents(40000) << Cents(40002) << "+0.02"
                                 << "+0.01%";
        QTest::newRow("half down") << Cents(40000) << Cents(39998) << "-0.02"
                                   << "-0.01%";
        QTest::newRow("doubled") << Cents(5) << Cents(10) << "+0.05"
                                 << "+100.00%";
    }
    void formatsQuoteXml()
    {
        QFETCH(Cents, close);
        QFETCH(Cents, last);
        QFETCH(QString, change);
        QFETCH(QString, percent);
        Quote q;
        q.previousClose = q.open = q.low = close;
        q.last = q.high = last;
        q.volume = 123;
        q.slot = 1'796'741'400 / kSlotSeconds;
        const std::string xml = quoteXml("M<&>\"'", &q);
        QVERIFY(xml.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<QuoteData>", 0) == 0);
        QVERIFY(xml.find("<StockSymbol>M&lt;&amp;&gt;&quot;&apos;</StockSymbol>")
                != std::string::npos);
        const auto values = elements(xml);
        QCOMPARE(values.value("StockSymbol"), QString("M<&>\"'"));
        QCOMPARE(values.value("StockChange"), change);
        QCOMPARE(values.value("ChangePercent"), percent);
        QCOMPARE(values.value("LastTradeAmount"), QString::number(last / 100.0, 'f', 2));
        QCOMPARE(values.value("LastTradeDateTime"), QString("2026-12-08T14:50:00"));
        QCOMPARE(values.value("StockVolume"), QString("123"));
        QCOMPARE(values.size(), 10);

        QCOMPARE(elements(quoteXml("NOPE", nullptr)).keys(), QStringList{"StockSymbol"});
        // A notice is cut to 120 characters, never inside one.
        std::string symbol(60, 'x');
        for (int i = 0; i < 60; ++i)
            symbol += "\xE2\x82\xAC"; // the euro sign, three bytes
        const QString notice
                = elements(quoteXml("NOPE", nullptr, unknownSymbolNotice(symbol))).value("Notice");
        QCOMPARE(notice.size(), 120);
        QVERIFY(notice.startsWith("No quote for xxx") && notice.endsWith(QChar(0x20AC)));
    }

    void acceptsOnlyPrintableUtf8()
    {
        for (const char *good : {"MSFT", "A B&C", "\xC3\x84", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"})
            QVERIFY2(isPrintableUtf8(good), good);
        for (const char *bad : {"A\nB", "\x7F", "\x01", "\xFF", "\xC0\x80", "\xED\xA0\x80",
                                "\xE2\x82", "\xEF\xBF\xBF", "\xF4\x90\x80\x80"})
            QVERIFY(!isPrintableUtf8(bad));
    }
};

QTEST_APPLESS_MAIN(TestQuotebook)
#include "tst_quotebook.moc"
