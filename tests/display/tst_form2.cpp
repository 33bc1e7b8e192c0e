#include "app/appshell.h"
#include "app/colors.h"
#include "app/forms.h"
#include "app/runtimeerror.h"
#include "app/settings.h"
#include "display/form2.h"
#include "display/measuringlabel.h"
#include "display/picturebox.h"
#include "options/form1.h"
#include "options/pushbutton.h"
#include "quote/quote.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray FullReply = "<?xml version=\"1.0\"?><QuoteData><StockSymbol>MSFT</StockSymbol>"
                             "<LastTradeAmount>412.35</LastTradeAmount>"
                             "<StockChange>+1.23</StockChange>"
                             "<ChangePercent>+0.30%</ChangePercent></QuoteData>";

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void displayButtonHandsOverTheSymbol_data();
    void displayButtonHandsOverTheSymbol();
    void firstLoadSetsTheOptionBoxes();
    void storedOptionsDecideHintAndKeepAwake();
    void tickDrawsQuoteLinesAndClock();
    void lineWithoutTradeEndsWithClock();
    void leftJustifiedLinesStartAtTheEdge();
    void badAlignmentIsReportedAndCentres();
    void refreshEvery600TicksWithTwoRequests();
    void failedStartShowsOnlyBackground();
    void failedRefreshKeepsLastDrawing();
    void refreshLaysOutAgain_data();
    void refreshLaysOutAgain();
    void unattendedLinesShrinkToFit_data();
    void unattendedLinesShrinkToFit();
    void unattendedFailuresRetrySoonerAndSaySo();
    void layoutCentresTheTextBlock();
    void tallTextGetsNegativeTop();
    void layoutFollowsEachStart_data();
    void layoutFollowsEachStart();
    void ticksFollowTheWallClock();
    void emptyStoreGivesDefaultStyle();
    void storedStyleIsApplied();
    void badStyleSettingsAreReported_data();
    void badStyleSettingsAreReported();
    void hideWord_data();
    void hideWord();
    void hideDoesNothingWhileMinimised();
    void escapeHidesAndBringsBackFreshOptions();
    void closingOptionsEndsEverything();
    void windowSystemCloseUnloadsDisplay();
    void goneOptionsWindowIsReported();

private:
    Form2 *startDisplay(const QString &symbol = QStringLiteral("MSFT"));
    QStringList drawnTexts() const;
    QList<double> drawnX() const;

    std::unique_ptr<TestEnvironment> mEnv;
};

void TestForm2::init()
{
    mEnv = std::make_unique<TestEnvironment>();
    mEnv->fetcher.reply = FullReply;
}

void TestForm2::cleanup()
{
    Form2::setUnattended(false);
    mEnv.reset();
}

Form2 *TestForm2::startDisplay(const QString &symbol)
{
    Form1 *form1 = Forms::form1();
    form1->show();
    child<QLineEdit>(form1, "Text1")->setText(symbol);
    form1->PushButton1_Click();
    Form2 *form2 = Forms::loadedForm2();
    if (form2)
        child<QTimer>(form2, "Timer1")->stop(); // the tests drive the ticks themselves
    return form2;
}

QStringList TestForm2::drawnTexts() const
{
    QStringList texts;
    for (const PictureBox::Printed &item :
         child<PictureBox>(Forms::loadedForm2(), "Picture1")->printed())
        texts.append(item.text);
    return texts;
}

QList<double> TestForm2::drawnX() const
{
    QList<double> xs;
    for (const PictureBox::Printed &item :
         child<PictureBox>(Forms::loadedForm2(), "Picture1")->printed())
        xs.append(item.x);
    return xs;
}

void TestForm2::displayButtonHandsOverTheSymbol_data()
{
    QTest::addColumn<QString>("symbol");
    QTest::newRow("upper case") << "MSFT";
    QTest::newRow("lower case") << "msft";
    QTest::newRow("blanks only") << "   ";
}

void TestForm2::displayButtonHandsOverTheSymbol()
{
    QFETCH(QString, symbol);
    QPointer<Form1> form1 = Forms::form1();
    Form2 *form2 = startDisplay(symbol);
    QVERIFY(form2);
    QCOMPARE(form2->mStockSymbol, symbol);
    QVERIFY(form2->isVisible());
    QVERIFY(form2->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(form2->windowState() & Qt::WindowFullScreen);
    // The options window unloaded itself without ending the program.
    QVERIFY(!Forms::loadedForm1());
    QVERIFY(!Forms::ending());
    QTRY_VERIFY(!form1);
    QCOMPARE(mEnv->fetcher.urls.size(), 2);
    QCOMPARE(mEnv->fetcher.urls[0], Quote::requestUrl(symbol));
    QVERIFY(form2->mQuoteText.startsWith(symbol + "\r\n"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm2::firstLoadSetsTheOptionBoxes()
{
    Form2 *form2 = startDisplay();
    // Empty store: the hint stays, keep-awake turns on and is stored.
    QVERIFY(child<QLabel>(form2, "Label1")->isVisibleTo(form2));
    QVERIFY(child<QTimer>(form2, "Timer2")->isActive());
    QCOMPARE(child<QTimer>(form2, "Timer2")->interval(), 59000);
    QCOMPARE(child<QTimer>(form2, "Timer2")->timerType(), Qt::PreciseTimer);
    QCOMPARE(mEnv->stored("Check4"), QStringLiteral("1"));
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("<absent>"));
    QVERIFY(!child<PictureBox>(form2, "Picture1")->isVisibleTo(form2));
    QVERIFY(!child<MeasuringLabel>(form2, "lblData")->isVisibleTo(form2));
    QCOMPARE(child<QTimer>(form2, "Timer1")->timerType(), Qt::PreciseTimer);
}

void TestForm2::storedOptionsDecideHintAndKeepAwake()
{
    Settings::save(Settings::Key::Check1, "1");
    Settings::save(Settings::Key::Check4, "0");
    Form2 *form2 = startDisplay();
    QVERIFY(!child<QLabel>(form2, "Label1")->isVisibleTo(form2));
    QVERIFY(!child<QTimer>(form2, "Timer2")->isActive());

    // Changing the options later only takes effect at the next load.
    Form1 *form1 = Forms::form1();
    Form1::setCheckValue(form1->keepAwakeBox(), 1);
    child<QLineEdit>(form1, "Text1")->setText("IBM");
    form1->PushButton1_Click();
    QVERIFY(!child<QTimer>(form2, "Timer2")->isActive());

    Forms::destroyAll();
    Settings::save(Settings::Key::Check4, "abc");
    form2 = startDisplay();
    // The options window reports its own step first.
    QCOMPARE(mEnv->dialogs.errorTexts(),
             QStringList({errorReport("Type mismatch", "Form1", "Form_Load", 130),
                          errorReport("Type mismatch", "Form2", "Form_Load", 112)}));
}

void TestForm2::tickDrawsQuoteLinesAndClock()
{
    Settings::save(Settings::Key::Combo1, "1");
    Form2 *form2 = startDisplay();
    QCOMPARE(form2->mQuoteText,
             QStringLiteral("MSFT\r\nStock Change: +1.23\r\nPercentage Change: "
                            "+0.30%\r\n412.35\r\n09:05:07 PM"));
    mEnv->clock.time = mEnv->clock.time.addSecs(3600 * 3 + 1); // 00:05:08 the next day
    form2->Timer1_Timer();
    QVERIFY(child<PictureBox>(form2, "Picture1")->isVisibleTo(form2));
    QCOMPARE(drawnTexts(),
             QStringList({"MSFT", "Stock Change: +1.23", "Percentage Change: +0.30%", "412.35",
                          "12:05:08 AM"}));
    const PictureBox *picture = child<PictureBox>(form2, "Picture1");
    const auto whole = [](double v) { return std::int64_t(std::nearbyint(v)); };
    for (const PictureBox::Printed &item : picture->printed()) {
        const double expected = double(whole(picture->twipsWidth()) / 2
                                       - whole(picture->textWidth(item.text)) / 2);
        QCOMPARE(item.x, expected);
    }
    // Lines go down one text line each, from the top of the box.
    const QList<PictureBox::Printed> &items = picture->printed();
    for (qsizetype i = 0; i < items.size(); ++i)
        QCOMPARE(items[i].y, i * picture->textHeight());
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->caption(),
             QStringLiteral("MSFT\r\nStock Change: +1.23\r\nPercentage Change: +0.30%\r\n412.35\r\n"
                            "12:05:08 AM"));

    // The clock moves every second; the quote lines stay.
    mEnv->clock.time = mEnv->clock.time.addSecs(1);
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts().last(), QStringLiteral("12:05:09 AM"));
    QCOMPARE(drawnTexts().first(), QStringLiteral("MSFT"));
    QCOMPARE(mEnv->fetcher.urls.size(), 2);
}

void TestForm2::lineWithoutTradeEndsWithClock()
{
    mEnv->fetcher.reply = "<QuoteData><StockChange>1.5</StockChange></QuoteData>";
    Form2 *form2 = startDisplay("ibm");
    QCOMPARE(form2->mQuoteText, QStringLiteral("ibm\r\nStock Change: 1.5\r\n"));
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts(), QStringList({"ibm", "Stock Change: 1.5", "09:05:07 PM"}));

    mEnv->fetcher.reply = "<QuoteData/>";
    Forms::destroyAll();
    form2 = startDisplay("XYZ");
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts(), QStringList({"XYZ", "09:05:07 PM"}));
}

void TestForm2::leftJustifiedLinesStartAtTheEdge()
{
    Form2 *form2 = startDisplay();
    Settings::save(Settings::Key::Combo1, "0");
    form2->Timer1_Timer();
    QCOMPARE(drawnX(), QList<double>({0, 0, 0, 0, 0}));
    // Any value other than 1 left-justifies, read again at every tick.
    Settings::save(Settings::Key::Combo1, "7");
    form2->Timer1_Timer();
    QCOMPARE(drawnX(), QList<double>({0, 0, 0, 0, 0}));
    Settings::save(Settings::Key::Combo1, "1");
    form2->Timer1_Timer();
    QVERIFY(drawnX().first() > 0);
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm2::badAlignmentIsReportedAndCentres()
{
    Form2 *form2 = startDisplay();
    Settings::save(Settings::Key::Combo1, "left");
    mEnv->dialogs.messages.clear();
    form2->Timer1_Timer();
    QStringList expected;
    for (int i = 0; i < 4; ++i)
        expected << errorReport("Type mismatch", "Form2", "Timer1_Timer", 140);
    expected << errorReport("Type mismatch", "Form2", "Timer1_Timer", 150);
    QCOMPARE(mEnv->dialogs.errorTexts(), expected);
    QVERIFY(drawnX().first() > 0);
    QCOMPARE(drawnTexts().size(), 5);
}

void TestForm2::refreshEvery600TicksWithTwoRequests()
{
    Form2 *form2 = startDisplay();
    QCOMPARE(mEnv->fetcher.urls.size(), 2);
    for (int tick = 1; tick < 600; ++tick)
        form2->Timer1_Timer();
    QCOMPARE(mEnv->fetcher.urls.size(), 2);
    QCOMPARE(form2->mTickCount, 599);
    form2->Timer1_Timer();
    QCOMPARE(mEnv->fetcher.urls.size(), 4);
    QCOMPARE(form2->mTickCount, 0);

    // Starting the display again fetches twice but keeps counting.
    for (int tick = 0; tick < 100; ++tick)
        form2->Timer1_Timer();
    QTest::keyClick(form2, Qt::Key_Escape);
    startDisplay("IBM");
    QCOMPARE(mEnv->fetcher.urls.size(), 6);
    QCOMPARE(form2->mTickCount, 100);
    for (int tick = 0; tick < 500; ++tick)
        form2->Timer1_Timer();
    QCOMPARE(mEnv->fetcher.urls.size(), 8);
    QVERIFY(mEnv->fetcher.urls.last().contains("StockSymbol=IBM"));
}

void TestForm2::failedStartShowsOnlyBackground()
{
    mEnv->fetcher.fail = true;
    Form2 *form2 = startDisplay();
    QCOMPARE(mEnv->dialogs.errorTexts().size(), 2); // one report per request
    QVERIFY(mEnv->dialogs.errorTexts()[0].contains("getStockQuote at line 100"));
    QCOMPARE(form2->mQuoteText, QString());
    for (int tick = 0; tick < 10; ++tick)
        form2->Timer1_Timer();
    QVERIFY(!child<PictureBox>(form2, "Picture1")->isVisibleTo(form2));
    QVERIFY(child<QLabel>(form2, "Label1")->isVisibleTo(form2));

    mEnv->fetcher.fail = false;
    form2->mTickCount = 599;
    form2->Timer1_Timer();
    QVERIFY(child<PictureBox>(form2, "Picture1")->isVisibleTo(form2));
    QCOMPARE(drawnTexts().size(), 5);
}

void TestForm2::failedRefreshKeepsLastDrawing()
{
    Form2 *form2 = startDisplay();
    form2->Timer1_Timer();
    const QStringList before = drawnTexts();
    mEnv->fetcher.fail = true;
    mEnv->dialogs.messages.clear();
    form2->mTickCount = 599;
    mEnv->clock.time = mEnv->clock.time.addSecs(5);
    form2->Timer1_Timer();
    QCOMPARE(mEnv->dialogs.errorTexts().size(), 2);
    QVERIFY(form2->mQuoteText.isEmpty());
    // The display is activated again when the box over it closes.
    form2->Form_Activate();
    // The clock stops: the last drawing stays as it was.
    for (int tick = 0; tick < 3; ++tick) {
        mEnv->clock.time = mEnv->clock.time.addSecs(1);
        form2->Timer1_Timer();
    }
    QCOMPARE(drawnTexts(), before);
    QVERIFY(child<PictureBox>(form2, "Picture1")->isVisibleTo(form2));

    mEnv->fetcher.fail = false;
    form2->mTickCount = 599;
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts().last(), QStringLiteral("09:05:15 PM"));
}

void TestForm2::refreshLaysOutAgain_data()
{
    QTest::addColumn<QByteArray>("startReply"); // "": the start's fetches fail

    QTest::newRow("after a failed start") << QByteArray();
    QTest::newRow("more lines than at the start")
            << QByteArray("<QuoteData><StockChange>1</StockChange></QuoteData>");
}

void TestForm2::refreshLaysOutAgain()
{
    QFETCH(QByteArray, startReply);
    mEnv->fetcher.fail = startReply.isEmpty();
    mEnv->fetcher.reply = startReply;
    Form2 *form2 = startDisplay();
    form2->Timer1_Timer();
    mEnv->fetcher.fail = false;
    mEnv->fetcher.reply = FullReply;
    form2->mTickCount = 599;
    form2->Timer1_Timer();

    // Every line and the clock inside the box, the box centred.
    const PictureBox *picture = child<PictureBox>(form2, "Picture1");
    const int lineHeight = QFontMetrics(picture->font()).lineSpacing();
    QCOMPARE(drawnTexts().size(), 5);
    QVERIFY(picture->isVisibleTo(form2));
    QCOMPARE(picture->twipsHeight(), float(5 * lineHeight * 15));
    QCOMPARE(picture->twipsTop(),
             float(form2->scaleHeight() / 2 - double(picture->twipsHeight()) / 2));
}

void TestForm2::unattendedLinesShrinkToFit_data()
{
    QTest::addColumn<bool>("unattended");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("shrinks");

    QTest::newRow("portrait, default size") << true << QSize(1080, 1920) << "72" << true;
    QTest::newRow("landscape, 144 pt") << true << QSize(1920, 1080) << "144" << true;
    QTest::newRow("too tall") << true << QSize(3000, 300) << "72" << true;
    QTest::newRow("fits as chosen") << true << QSize(1920, 1080) << "72" << false;
    QTest::newRow("attended: cut off") << false << QSize(1080, 1920) << "72" << false;
}

void TestForm2::unattendedLinesShrinkToFit()
{
    QFETCH(bool, unattended);
    QFETCH(QSize, size);
    QFETCH(QString, chosen);
    QFETCH(bool, shrinks);
    Form2::setUnattended(unattended);
    Settings::save(Settings::Key::FontSize, chosen);
    Form2 *form2 = startDisplay();
    form2->setWindowState(Qt::WindowNoState);
    form2->resize(size);
    form2->Timer1_Timer();

    const PictureBox *picture = child<PictureBox>(form2, "Picture1");
    const int points = picture->font().pointSize();
    QCOMPARE(points < chosen.toInt(), shrinks);
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->font().pointSize(), points);
    const auto fitsAt = [&](int pointSize) {
        QFont font = picture->font();
        font.setPointSize(pointSize);
        const QFontMetricsF metrics(font);
        for (const QString &text : drawnTexts()) {
            if (metrics.horizontalAdvance(text) > size.width())
                return false;
        }
        return QFontMetrics(font).lineSpacing() * drawnTexts().size() <= size.height();
    };
    QCOMPARE(drawnTexts().size(), 5);
    if (!unattended)
        return;
    // Every line inside the box, at the largest size that fits.
    QVERIFY(fitsAt(points));
    if (shrinks)
        QVERIFY(!fitsAt(points + 1));
    for (const PictureBox::Printed &item : picture->printed()) {
        QVERIFY2(item.x >= 0, qPrintable(item.text));
        QVERIFY2(item.x + picture->textWidth(item.text) <= picture->twipsWidth(),
                 qPrintable(item.text));
        QVERIFY(item.y + picture->textHeight() <= picture->twipsHeight());
    }
    QVERIFY(picture->twipsTop() >= 0);
}

void TestForm2::unattendedFailuresRetrySoonerAndSaySo()
{
    Form2::setUnattended(true);
    mEnv->fetcher.fail = true;
    Form2 *form2 = startDisplay();
    // No box; the clock alone, and the notice says why.
    QVERIFY(mEnv->dialogs.messages.isEmpty());
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts(), QStringList{QStringLiteral("09:05:07 PM")});
    const QLabel *notice = child<QLabel>(form2, "lblNotice");
    QCOMPARE(notice->text(),
             QString::fromUtf8("Service unreachable \u00B7 Could not connect to server"));
    QVERIFY(notice->isVisibleTo(form2));
    QCOMPARE(notice->geometry().bottom(), form2->height() - 1 - 8);
    QCOMPARE(notice->x(), 8);

    // Retried after 30 ticks, then ever later, then every 600.
    QList<int> waits;
    for (int retry = 0; retry < 6; ++retry) {
        const qsizetype requests = mEnv->fetcher.urls.size();
        int ticks = 0;
        while (mEnv->fetcher.urls.size() == requests && ticks < 1000) {
            form2->Timer1_Timer();
            ++ticks;
        }
        waits.append(ticks);
    }
    QCOMPARE(waits, (QList<int>{29, 60, 120, 240, 480, 600}));
    QVERIFY(mEnv->dialogs.messages.isEmpty());

    // A quote at last, with the service's notice.
    mEnv->fetcher.fail = false;
    mEnv->fetcher.reply = QByteArray(FullReply).replace("</QuoteData>",
                                                        "<Notice>Simulated prices</Notice>"
                                                        "</QuoteData>");
    mEnv->clock.time = mEnv->clock.time.addSecs(600);
    form2->mTickCount = 599;
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts().size(), 5);
    QCOMPARE(notice->text(), QStringLiteral("Simulated prices"));

    // The service goes away: the last quote stays, its clock running.
    mEnv->fetcher.fail = true;
    mEnv->clock.time = mEnv->clock.time.addSecs(600);
    form2->mTickCount = 599;
    form2->Timer1_Timer();
    mEnv->clock.time = mEnv->clock.time.addSecs(1);
    form2->Timer1_Timer();
    QCOMPARE(drawnTexts().size(), 5);
    QCOMPARE(drawnTexts().first(), QStringLiteral("MSFT"));
    QCOMPARE(drawnTexts().last(), QStringLiteral("09:25:08 PM"));
    QCOMPARE(notice->text(),
             QString::fromUtf8("Quote as of 21:15, service unreachable \u00B7 Could not connect to "
                               "server \u00B7 Simulated prices"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm2::layoutCentresTheTextBlock()
{
    Form2 *form2 = startDisplay();
    form2->resize(1920, 1080);
    const int lineHeight = QFontMetrics(child<PictureBox>(form2, "Picture1")->font()).lineSpacing();
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->twipsHeight(), float(5 * lineHeight * 15));
    form2->Form_Resize();
    const PictureBox *picture = child<PictureBox>(form2, "Picture1");
    QCOMPARE(picture->twipsLeft(), 0.0f);
    QCOMPARE(picture->twipsWidth(), 1920.0f * 15);
    QCOMPARE(picture->twipsHeight(), child<MeasuringLabel>(form2, "lblData")->twipsHeight());
    QCOMPARE(picture->twipsTop(), float(1080.0 * 15 / 2 - 5.0 * lineHeight * 15 / 2));
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->twipsTop(), picture->twipsTop());
    QCOMPARE(picture->geometry(),
             QRect(0, int(std::lround(picture->twipsTop() / 15)), 1920, 5 * lineHeight));
    // The layout leaves both hidden until the next tick shows the picture.
    QVERIFY(!picture->isVisibleTo(form2));
    form2->Timer1_Timer();
    QVERIFY(picture->isVisibleTo(form2));
}

void TestForm2::tallTextGetsNegativeTop()
{
    mEnv->fetcher.reply = "<QuoteData><StockChange>1</StockChange><ChangePercent>2</ChangePercent>"
                          "<LastTradeAmount>3</LastTradeAmount></QuoteData>";
    Settings::save(Settings::Key::FontSize, "300");
    Form2 *form2 = startDisplay();
    form2->resize(800, 600);
    form2->Form_Resize();
    QVERIFY(child<PictureBox>(form2, "Picture1")->twipsTop() < 0);
    QCOMPARE(child<PictureBox>(form2, "Picture1")->twipsTop(),
             float(600.0 * 15 / 2
                   - double(child<PictureBox>(form2, "Picture1")->twipsHeight()) / 2));
}

void TestForm2::layoutFollowsEachStart_data()
{
    QTest::addColumn<bool>("firstFetchFails");
    QTest::addColumn<QString>("secondFontSize");
    QTest::newRow("font size changed between starts") << false << "110";
    QTest::newRow("first start without a quote") << true << "72";
}

void TestForm2::layoutFollowsEachStart()
{
    QFETCH(bool, firstFetchFails);
    QFETCH(QString, secondFontSize);
    mEnv->fetcher.fail = firstFetchFails;
    Form2 *form2 = startDisplay();
    const QSize size = form2->size();
    QTest::keyClick(form2, Qt::Key_Escape);
    mEnv->fetcher.fail = false;
    Settings::save(Settings::Key::FontSize, secondFontSize);
    startDisplay();
    // Shown again at the same size: no resize, yet laid out for this start.
    QCOMPARE(form2->size(), size);
    const PictureBox *picture = child<PictureBox>(form2, "Picture1");
    const int lineHeight = QFontMetrics(picture->font()).lineSpacing();
    QCOMPARE(picture->font().pointSize(), secondFontSize.toInt());
    QCOMPARE(picture->twipsHeight(), float(5 * lineHeight * 15));
    QCOMPARE(picture->twipsTop(),
             float(form2->scaleHeight() / 2 - double(picture->twipsHeight()) / 2));
}

void TestForm2::ticksFollowTheWallClock()
{
    const QDate day(2026, 12, 8);
    mEnv->clock.time = QDateTime(day, QTime(21, 5, 7, 500));
    Form2 *form2 = startDisplay();
    // Loaded half-way through a second: due just after the next one.
    QVERIFY(child<QTimer>(form2, "Timer1")->isSingleShot());
    QCOMPARE(child<QTimer>(form2, "Timer1")->interval(), 500 + Form2::Timer1Margin);

    int ticks = 0;
    const auto expire = [&](int second, int ms) {
        mEnv->clock.time = QDateTime(day, QTime(21, 5, 0)).addMSecs(second * 1000 + ms);
        QVERIFY(QMetaObject::invokeMethod(child<QTimer>(form2, "Timer1"), "timeout"));
        ticks = form2->mTickCount;
    };
    expire(8, 2);
    QCOMPARE(ticks, 1);
    QCOMPARE(child<QTimer>(form2, "Timer1")->interval(), 1000);
    // Late by 300 ms: a tick, and the next one is due at the second again.
    expire(9, 300);
    QCOMPARE(ticks, 2);
    QCOMPARE(child<QTimer>(form2, "Timer1")->interval(), 700 + Form2::Timer1Margin);
    expire(10, 2);
    // Early, within the second already shown: a re-alignment, not a tick.
    expire(10, 999);
    QCOMPARE(ticks, 3);
    QCOMPARE(child<QTimer>(form2, "Timer1")->interval(), 1 + Form2::Timer1Margin);
    int second = 11;
    while (ticks < 599)
        expire(second++, 2);
    QCOMPARE(mEnv->fetcher.urls.size(), 2);
    expire(second, 2);
    QCOMPARE(mEnv->fetcher.urls.size(), 4);
    QCOMPARE(form2->mTickCount, 0);
}

void TestForm2::emptyStoreGivesDefaultStyle()
{
    Form2 *form2 = startDisplay();
    // Start-up stores the alignment; without it the display centres.
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->alignment(),
             int(MeasuringLabel::LeftJustify));
    {
        QSettings raw(mEnv->storeFile(), QSettings::IniFormat);
        raw.remove("Combo1");
    }
    form2->ReLoadStyle();
    for (const QFont &font : {child<PictureBox>(form2, "Picture1")->font(),
                              child<MeasuringLabel>(form2, "lblData")->font()}) {
        QCOMPARE(font.family(), QStringLiteral("Arial"));
        QCOMPARE(font.pointSize(), 72);
        QVERIFY(font.bold());
        QVERIFY(!font.italic());
        QVERIFY(!font.strikeOut());
        QVERIFY(!font.underline());
    }
    QCOMPARE(child<PictureBox>(form2, "Picture1")->foreColor(), 16777215u);
    QCOMPARE(child<PictureBox>(form2, "Picture1")->backColor(), 0u);
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->alignment(), int(MeasuringLabel::Center));
    QCOMPARE(Colors::backColor(form2), 0u);
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm2::storedStyleIsApplied()
{
    Settings::save(Settings::Key::FontName, "Courier New");
    Settings::save(Settings::Key::FontBold, "true");
    Settings::save(Settings::Key::FontItalic, "True");
    Settings::save(Settings::Key::FontSize, "11.25");
    Settings::save("FontStrikethru", "True"); // the font dialog's spelling
    Settings::save(Settings::Key::FontUnderLine, "1");
    Settings::save(Settings::Key::FontColor, "255");
    Settings::save(Settings::Key::BackgroundColor, "16777215");
    Settings::save(Settings::Key::Combo1, "0");
    Form2 *form2 = startDisplay();
    for (const QFont &font : {child<PictureBox>(form2, "Picture1")->font(),
                              child<MeasuringLabel>(form2, "lblData")->font()}) {
        QCOMPARE(font.family(), QStringLiteral("Courier New"));
        QCOMPARE(font.pointSize(), 11);
        QVERIFY(!font.bold());
        QVERIFY(font.italic());
        QVERIFY(font.strikeOut());
        QVERIFY(!font.underline());
    }
    QCOMPARE(child<PictureBox>(form2, "Picture1")->foreColor(), 255u);
    QCOMPARE(child<PictureBox>(form2, "Picture1")->backColor(), 16777215u);
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->backColor(), 16777215u);
    QCOMPARE(Colors::backColor(child<QLabel>(form2, "Label1")), 16777215u);
    // The hint keeps its white text: white on white.
    QCOMPARE(child<QLabel>(form2, "Label1")->palette().color(QPalette::WindowText),
             QColor(Qt::white));
    QCOMPARE(child<MeasuringLabel>(form2, "lblData")->alignment(),
             int(MeasuringLabel::LeftJustify));
}

void TestForm2::badStyleSettingsAreReported_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QString>("description");
    QTest::newRow("size text") << "FontSize"
                               << "abc" << QList<int>{112, 140} << "Type mismatch";
    QTest::newRow("size overflow") << "FontSize"
                                   << "40000" << QList<int>{112, 140} << "Overflow";
    QTest::newRow("size zero") << "FontSize"
                               << "0" << QList<int>{112, 140} << "Invalid property value";
    QTest::newRow("background text") << "Background Color"
                                     << "black" << QList<int>{120, 128, 146} << "Type mismatch";
    QTest::newRow("background beyond 32 bits")
            << "Background Color"
            << "4294967296" << QList<int>{120, 128, 146} << "Overflow";
    QTest::newRow("font colour text") << "Font Color"
                                      << "white" << QList<int>{118, 148, 154} << "Type mismatch";
    QTest::newRow("alignment text") << "Combo1"
                                    << "x" << QList<int>{122} << "Type mismatch";
}

void TestForm2::badStyleSettingsAreReported()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QList<int>, steps);
    QFETCH(QString, description);
    // A first start with good values, then the bad one at the next start.
    Form2 *form2 = startDisplay();
    QTest::keyClick(form2, Qt::Key_Escape);
    Settings::save(Settings::Key::BackgroundColor, "255");
    Settings::save(key, value);
    if (key == "Combo1")
        Forms::form1(); // start-up reports its own step; only the display's count here
    mEnv->dialogs.messages.clear();
    Form1 *form1 = Forms::form1();
    child<QLineEdit>(form1, "Text1")->setText("MSFT");
    form1->PushButton1_Click();
    QStringList expected;
    for (int step : steps)
        expected << errorReport(description, "Form2", "ReLoadStyle", step);
    QCOMPARE(mEnv->dialogs.errorTexts(), expected);
    if (key == "FontSize")
        QCOMPARE(child<PictureBox>(form2, "Picture1")->font().pointSize(), 72);
    if (key == "Background Color") {
        // The copies spread the window's unchanged background.
        QCOMPARE(Colors::backColor(form2), 0u);
        QCOMPARE(child<PictureBox>(form2, "Picture1")->backColor(), 0u);
        QCOMPARE(Colors::backColor(child<QLabel>(form2, "Label1")), 0u);
    }
    if (key == "Combo1")
        QCOMPARE(child<MeasuringLabel>(form2, "lblData")->alignment(), int(MeasuringLabel::Center));
}

void TestForm2::hideWord_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("collapsed");
    const int H = Qt::Key_H, I = Qt::Key_I, D = Qt::Key_D, E = Qt::Key_E, X = Qt::Key_X;
    const int Shift = Qt::Key_Shift;
    QTest::newRow("hide") << QList<int>{H, I, D, E} << true;
    QTest::newRow("upper case, shift before H") << QList<int>{Shift, H, I, D, E} << true;
    QTest::newRow("shift between letters") << QList<int>{H, Shift, I, D, E} << false;
    QTest::newRow("hhide") << QList<int>{H, H, I, D, E} << false;
    QTest::newRow("hhhide") << QList<int>{H, H, H, I, D, E} << true;
    QTest::newRow("hixde") << QList<int>{H, I, X, D, E} << false;
    QTest::newRow("hiede") << QList<int>{H, I, E, D, E} << false;
    QTest::newRow("typed twice") << QList<int>{H, I, D, E, H, I, D, E} << true;
    QTest::newRow("starts again") << QList<int>{H, I, X, H, I, D, E} << true;
}

void TestForm2::hideWord()
{
    QFETCH(QList<int>, keys);
    QFETCH(bool, collapsed);
    Form2 *form2 = startDisplay();
    // Once Shift went down the letters come upper case, as typed with Shift
    // held: one Shift press, then the letters with the modifier set.
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    for (int key : keys) {
        if (key == Qt::Key_Shift)
            modifiers = Qt::ShiftModifier;
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(form2, &press);
    }
    QCOMPARE(child<QLabel>(form2, "Label1")->size().isEmpty(), collapsed);
    QCOMPARE(form2->mHideArmed, form2->mHideStep > 0);
    QCOMPARE(form2->mHideStep, std::int16_t(0));
    // Nothing is saved; the collapse lasts through the next start.
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("<absent>"));
    QTest::keyClick(form2, Qt::Key_Escape);
    form2 = startDisplay();
    QCOMPARE(child<QLabel>(form2, "Label1")->size().isEmpty(), collapsed);
}

void TestForm2::hideDoesNothingWhileMinimised()
{
    Form2 *form2 = startDisplay();
    form2->setWindowState(Qt::WindowMinimized);
    QVERIFY(form2->isMinimized());
    for (int key : {Qt::Key_H, Qt::Key_I, Qt::Key_D, Qt::Key_E})
        form2->Form_KeyDown(key);
    QVERIFY(!child<QLabel>(form2, "Label1")->size().isEmpty());
    QCOMPARE(form2->mHideStep, std::int16_t(0));
    QCOMPARE(form2->mHideArmed, false);

    // Escape in the middle of the word forgets it.
    form2->showDisplay();
    form2->Form_KeyDown(Qt::Key_H);
    form2->Form_KeyDown(Qt::Key_I);
    QTest::keyClick(form2, Qt::Key_Escape);
    QCOMPARE(form2->mHideStep, std::int16_t(0));
    form2 = startDisplay();
    form2->Form_KeyDown(Qt::Key_D);
    form2->Form_KeyDown(Qt::Key_E);
    QVERIFY(!child<QLabel>(form2, "Label1")->size().isEmpty());
}

void TestForm2::escapeHidesAndBringsBackFreshOptions()
{
    Form2 *form2 = startDisplay("IBM");
    QTest::keyClick(form2, Qt::Key_Escape);
    QVERIFY(!form2->isVisible());
    QCOMPARE(Forms::loadedForm2(), form2);
    // Its timers run on while it is hidden.
    QVERIFY(child<QTimer>(form2, "Timer2")->isActive());
    Form1 *form1 = Forms::loadedForm1();
    QVERIFY(form1);
    QVERIFY(form1->isVisible());
    // A fresh options window: its start-up ran again in full.
    QCOMPARE(child<QComboBox>(form1, "Combo1")->count(), 2);
    QCOMPARE(child<QLineEdit>(form1, "Text1")->text(), QStringLiteral("IBM"));
    QCOMPARE(Form1::checkValue(form1->keepAwakeBox()), 1);
    QVERIFY(!form1->openingDisplay());
    // The display comes back as the same window, Form_Load not run again.
    child<QTimer>(form2, "Timer2")->stop();
    Form2 *again = startDisplay("IBM");
    QCOMPARE(again, form2);
    QVERIFY(!child<QTimer>(form2, "Timer2")->isActive());
}

void TestForm2::closingOptionsEndsEverything()
{
    bool quit = false;
    Forms::setQuitHandler([&] { quit = true; });
    Form2 *form2 = startDisplay();
    QTest::keyClick(form2, Qt::Key_Escape);
    child<QTimer>(form2, "Timer1")->start();
    QVERIFY(child<QTimer>(form2, "Timer2")->isActive());
    Forms::loadedForm1()->close();
    QVERIFY(quit);
    QVERIFY(!child<QTimer>(form2, "Timer1")->isActive());
    QVERIFY(!child<QTimer>(form2, "Timer2")->isActive());
    QVERIFY(!form2->isVisible());
    // No handler of the display runs any more.
    const qsizetype requests = mEnv->fetcher.urls.size();
    form2->mTickCount = 599;
    form2->Timer1_Timer();
    QCOMPARE(mEnv->fetcher.urls.size(), requests);
}

void TestForm2::windowSystemCloseUnloadsDisplay()
{
    QPointer<Form2> form2 = startDisplay();
    form2->close();
    QVERIFY(!Forms::loadedForm2());
    QVERIFY(Forms::loadedForm1());
    QVERIFY(Forms::loadedForm1()->isVisible());
    QTRY_VERIFY(!form2);
    QVERIFY(!Forms::ending());
    // The next start loads a new display window.
    Form2 *fresh = startDisplay();
    QVERIFY(fresh);
    QCOMPARE(mEnv->fetcher.urls.size(), 4);
}

void TestForm2::goneOptionsWindowIsReported()
{
    Form2 *form2 = startDisplay();
    Forms::endProgram();
    QVERIFY(!Forms::form1());
    mEnv->dialogs.messages.clear();
    form2->Form_KeyDown(27); // Escape
    form2->Form_QueryUnload();
    const QString notSet = QStringLiteral("Object variable or With block variable not set");
    QCOMPARE(mEnv->dialogs.errorTexts(),
             QStringList({errorReport(notSet, "Form2", "Form_KeyDown", 110),
                          errorReport(notSet, "Form2", "Form_QueryUnload", 100)}));
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
