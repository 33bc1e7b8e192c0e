#include "app/appshell.h"
#include "app/forms.h"
#include "app/settings.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/kiosk.h"
#include "options/pushbutton.h"
#include "quote/quote.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup()
    {
        Form2::setUnattended(false);
        mEnv.reset();
    }

    void firstRunFillsControlsAndStore();
    void layoutFollowsTheDesign();
    void storedValuesAreShownAndWrittenBack();
    void badStoredValuesAreReportedAndStartUpGoesOn_data();
    void badStoredValuesAreReportedAndStartUpGoesOn();
    void everyChangeIsStoredAtOnce();
    void focusSelectsTheWholeSymbol();
    void hintBoxCarriesTheApplicationTitle();
    void emptySymbolDoesNothing();
    void hoverPointerBelongsToTheWindow();
    void closingEndsTheProgram();
    void unloadForDisplayLetsTheProgramRunOn();
    void kioskOpensTheDisplayUnattended_data();
    void kioskOpensTheDisplayUnattended();
    void boxesOfTheLoadingDisplayComeOverTheOptionsWindow();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestForm1::firstRunFillsControlsAndStore()
{
    Form1 *form = Forms::form1();
    QCOMPARE(child<QLineEdit>(form, "Text1")->text(), QStringLiteral("GOOG"));
    QCOMPARE(child<QComboBox>(form, "Combo1")->count(), 2);
    QCOMPARE(child<QComboBox>(form, "Combo1")->itemText(0), QStringLiteral("Left Justify"));
    QCOMPARE(child<QComboBox>(form, "Combo1")->itemText(1), QStringLiteral("Center"));
    QCOMPARE(child<QComboBox>(form, "Combo1")->currentIndex(), 0);
    QCOMPARE(form->hideHintBox()->checkState(), Qt::Unchecked);
    QCOMPARE(form->keepAwakeBox()->checkState(), Qt::Unchecked);
    QCOMPARE(form->windowTitle(), AppShell::ProductName);
    QCOMPARE(AppShell::appTitle(), QStringLiteral("Vantorel Briskane Tallow Marquee"));
    QVERIFY(form->hasMouseIcon());
    QVERIFY(mEnv->dialogs.messages.isEmpty());
    // The store file holds exactly the two written-back values.
    QCOMPARE(mEnv->stored("Text1"), QStringLiteral("GOOG"));
    QCOMPARE(mEnv->stored("Combo1"), QStringLiteral("0"));
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("<absent>"));
    QCOMPARE(mEnv->stored("Check4"), QStringLiteral("<absent>"));
    QCOMPARE(mEnv->storeText().count('='), 2);
}

void TestForm1::layoutFollowsTheDesign()
{
    Form1 *form = Forms::form1();
    QCOMPARE(form->size(), QSize(536, 363));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(child<PushButton>(form, "PushButton1")->geometry(), QRect(8, 8, 520, 27));
    QCOMPARE(child<QGroupBox>(form, "Frame2")->geometry(), QRect(8, 38, 520, 55));
    QCOMPARE(child<QLineEdit>(form, "Text1")->parentWidget(), child<QGroupBox>(form, "Frame2"));
    QCOMPARE(child<QLineEdit>(form, "Text1")->geometry(), QRect(16, 20, 449, 23));
    QCOMPARE(child<PushButton>(form, "PushButton4")->geometry(), QRect(472, 20, 33, 23));
    QCOMPARE(form->hideHintBox()->geometry(), QRect(16, 43, 353, 17));
    QCOMPARE(child<QComboBox>(form, "Combo1")->parentWidget(), child<QGroupBox>(form, "Frame6"));
    QCOMPARE(child<PushButton>(form, "PushButton6")->geometry(), QRect(8, 330, 520, 27));
    QCOMPARE(child<PushButton>(form, "PushButton2")->text(),
             QStringLiteral("Change Font Style && Size"));
    QCOMPARE(child<PushButton>(form, "PushButton2")->font().pointSizeF(), 11.25);
    QVERIFY(child<PushButton>(form, "PushButton2")->font().bold());
    QCOMPARE(form->font().pointSize(), 9);
    // Tab order starts at the symbol box and runs through the design's order.
    QWidget *expected[] = {child<QLineEdit>(form, "Text1"),
                           child<PushButton>(form, "PushButton4"),
                           child<PushButton>(form, "PushButton1"),
                           form->keepAwakeBox(),
                           form->hideHintBox(),
                           child<QComboBox>(form, "Combo1"),
                           child<PushButton>(form, "PushButton2"),
                           child<PushButton>(form, "PushButton3"),
                           child<PushButton>(form, "PushButton5"),
                           child<PushButton>(form, "PushButton6")};
    const auto nextFocusable = [](QWidget *widget) {
        do
            widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus);
        return widget;
    };
    for (std::size_t i = 1; i < std::size(expected); ++i)
        QCOMPARE(nextFocusable(expected[i - 1]), expected[i]);
}

void TestForm1::storedValuesAreShownAndWrittenBack()
{
    Settings::save(Settings::Key::Text1, "msft ");
    Settings::save(Settings::Key::Combo1, "1");
    Settings::save(Settings::Key::Check1, "1");
    Settings::save(Settings::Key::Check4, "2");
    Form1 *form = Forms::form1();
    QCOMPARE(child<QLineEdit>(form, "Text1")->text(), QStringLiteral("msft "));
    QCOMPARE(child<QComboBox>(form, "Combo1")->currentText(), QStringLiteral("Center"));
    QCOMPARE(form->hideHintBox()->checkState(), Qt::Checked);
    QCOMPARE(form->keepAwakeBox()->checkState(), Qt::PartiallyChecked);
    QCOMPARE(mEnv->stored("Check4"), QStringLiteral("2"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm1::badStoredValuesAreReportedAndStartUpGoesOn_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("step");
    QTest::newRow("Check1 text") << "Check1"
                                 << "abc"
                                 << "Type mismatch" << 128;
    QTest::newRow("Check1 out of range") << "Check1"
                                         << "3"
                                         << "Invalid property value" << 128;
    QTest::newRow("Check4 text") << "Check4"
                                 << "yes"
                                 << "Type mismatch" << 130;
    QTest::newRow("Check4 overflow") << "Check4"
                                     << "70000"
                                     << "Overflow" << 130;
    QTest::newRow("Combo1 outside list") << "Combo1"
                                         << "2"
                                         << "Invalid property value" << 138;
    QTest::newRow("Combo1 text") << "Combo1"
                                 << "Center"
                                 << "Type mismatch" << 138;
    QTest::newRow("Combo1 negative") << "Combo1"
                                     << "-2"
                                     << "Invalid property value" << 138;
}

void TestForm1::badStoredValuesAreReportedAndStartUpGoesOn()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, description);
    QFETCH(int, step);
    Settings::save(key, value);
    Form1 *form = Forms::form1();
    QCOMPARE(mEnv->dialogs.errorTexts(),
             QStringList{errorReport(description, "Form1", "Form_Load", step)});
    // The control keeps its design state and the rest of start-up ran.
    if (key == "Combo1") {
        QCOMPARE(child<QComboBox>(form, "Combo1")->currentIndex(), -1);
        QCOMPARE(child<QComboBox>(form, "Combo1")->count(), 2);
    } else {
        QCOMPARE(Form1::checkValue(key == "Check1" ? form->hideHintBox() : form->keepAwakeBox()),
                 0);
    }
    QCOMPARE(child<QLineEdit>(form, "Text1")->text(), QStringLiteral("GOOG"));
    QCOMPARE(form->windowTitle(), AppShell::ProductName);
    QCOMPARE(mEnv->stored(key), value);
}

void TestForm1::everyChangeIsStoredAtOnce()
{
    Form1 *form = Forms::form1();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    child<QLineEdit>(form, "Text1")->setFocus();
    QTest::keyClicks(child<QLineEdit>(form, "Text1"), "IBM");
    QCOMPARE(mEnv->stored("Text1"), QStringLiteral("IBM"));
    QTest::keyClick(child<QLineEdit>(form, "Text1"), Qt::Key_Backspace);
    QCOMPARE(mEnv->stored("Text1"), QStringLiteral("IB"));

    QTest::mouseClick(form->keepAwakeBox(), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(mEnv->stored("Check4"), QStringLiteral("1"));
    QTest::mouseClick(form->keepAwakeBox(), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(mEnv->stored("Check4"), QStringLiteral("0"));
    QTest::mouseClick(form->hideHintBox(), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("1"));

    child<QComboBox>(form, "Combo1")->setCurrentIndex(1);
    QCOMPARE(mEnv->stored("Combo1"), QStringLiteral("1"));
    child<QComboBox>(form, "Combo1")->setCurrentIndex(0);
    QCOMPARE(mEnv->stored("Combo1"), QStringLiteral("0"));

    // A greyed box turns ticked when clicked, never greyed again.
    Form1::setCheckValue(form->hideHintBox(), 2);
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("2"));
    QTest::mouseClick(form->hideHintBox(), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("1"));
    QTest::mouseClick(form->hideHintBox(), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(mEnv->stored("Check1"), QStringLiteral("0"));
}

void TestForm1::focusSelectsTheWholeSymbol()
{
    Settings::save(Settings::Key::Text1, "AAPL");
    Form1 *form = Forms::form1();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    child<PushButton>(form, "PushButton4")->setFocus();
    QTest::keyClick(child<PushButton>(form, "PushButton4"), Qt::Key_Backtab);
    QCOMPARE(child<QLineEdit>(form, "Text1")->selectedText(), QStringLiteral("AAPL"));
    QTest::keyClicks(child<QLineEdit>(form, "Text1"), "T");
    QCOMPARE(mEnv->stored("Text1"), QStringLiteral("T"));
}

void TestForm1::hintBoxCarriesTheApplicationTitle()
{
    Form1 *form = Forms::form1();
    QTest::mouseClick(child<PushButton>(form, "PushButton4"), Qt::LeftButton);
    QCOMPARE(mEnv->dialogs.messages.size(), 1);
    const ShownMessage &shown = mEnv->dialogs.messages[0];
    QCOMPARE(shown.text, QStringLiteral("Please enter stock symbol such as GOOG or MSFT"));
    QCOMPARE(shown.title, QStringLiteral("Vantorel Briskane Tallow Marquee"));
    QCOMPARE(shown.icon, BoxIcon::None);
}

void TestForm1::emptySymbolDoesNothing()
{
    Form1 *form = Forms::form1();
    form->show();
    child<QLineEdit>(form, "Text1")->clear();
    const QString before = mEnv->storeText();
    form->PushButton1_Click();
    QCOMPARE(Forms::loadedForm1(), form);
    QVERIFY(form->isVisible());
    QVERIFY(!Forms::loadedForm2());
    QVERIFY(!form->openingDisplay());
    QVERIFY(mEnv->dialogs.messages.isEmpty());
    QCOMPARE(mEnv->storeText(), before);
}

void TestForm1::hoverPointerBelongsToTheWindow()
{
    Form1 *form = Forms::form1();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    const auto moveOver = [](QWidget *widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    };
    QCOMPARE(form->mousePointer(), 0);
    for (PushButton *button :
         {child<PushButton>(form, "PushButton1"), child<PushButton>(form, "PushButton2"),
          child<PushButton>(form, "PushButton3"), child<PushButton>(form, "PushButton4"),
          child<PushButton>(form, "PushButton5"), child<PushButton>(form, "PushButton6")}) {
        moveOver(child<QGroupBox>(form, "Frame1"));
        QCOMPARE(form->mousePointer(), 0);
        moveOver(button);
        QCOMPARE(form->mousePointer(), 99);
    }
    QCOMPARE(form->cursor().shape(), Qt::BitmapCursor);
    // The check box and the symbol box leave the pointer as it was.
    moveOver(form->hideHintBox());
    QCOMPARE(form->mousePointer(), 99);
    moveOver(child<QLineEdit>(form, "Text1"));
    QCOMPARE(form->mousePointer(), 99);
    for (QWidget *background :
         {static_cast<QWidget *>(form), static_cast<QWidget *>(child<QGroupBox>(form, "Frame2")),
          static_cast<QWidget *>(child<QGroupBox>(form, "Frame6"))}) {
        moveOver(child<PushButton>(form, "PushButton1"));
        moveOver(background);
        QCOMPARE(form->mousePointer(), 0);
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
    }
}

void TestForm1::closingEndsTheProgram()
{
    bool quit = false;
    Forms::setQuitHandler([&] { quit = true; });
    Form1 *form = Forms::form1();
    form->show();
    QVERIFY(form->close() == false || !form->isVisible());
    QVERIFY(quit);
    QVERIFY(Forms::ending());
    QVERIFY(!form->isVisible());
    // Nothing is built once the program ends.
    QVERIFY(!Forms::loadedForm2());
}

void TestForm1::unloadForDisplayLetsTheProgramRunOn()
{
    bool quit = false;
    Forms::setQuitHandler([&] { quit = true; });
    QPointer<Form1> form = Forms::form1();
    Forms::unload(form); // an ordinary unload ends the program
    QVERIFY(quit);
}

namespace {

// The service's replies, one per request, the last one repeated.
class ScriptedFetcher : public Quote::Fetcher
{
public:
    QByteArray get(const QString &) override
    {
        return replies.size() > 1 ? replies.takeFirst() : replies.value(0);
    }
    QList<QByteArray> replies;
};

// The production message box, recorded with the place it was shown at, and
// closed by itself after a moment, with nobody to press OK.
class ProductionBoxes : public FakeDialogs
{
public:
    ~ProductionBoxes() override { Dialogs::setMessageAutoClose(0); }
    void message(QWidget *parent, const QString &text, const QString &title, BoxIcon icon) override
    {
        FakeDialogs::message(parent, text, title, icon);
        QTimer::singleShot(0, [this] {
            if (const QWidget *box = QApplication::activeModalWidget())
                centres << box->geometry().center();
        });
        ++open;
        Dialogs::production().message(parent, text, title, icon);
        --open;
    }
    int open = 0;
    QList<QPoint> centres;
};

} // namespace

void TestForm1::kioskOpensTheDisplayUnattended_data()
{
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<bool>("failedStart");

    const QByteArray good = "<QuoteData><StockChange>-0.42</StockChange>"
                            "<ChangePercent>-0.13%</ChangePercent>"
                            "<LastTradeAmount>331.16</LastTradeAmount></QuoteData>";
    QTest::newRow("stored symbol") << "IBM" << QList<QByteArray>{good} << false;
    // The display button does nothing for an empty symbol.
    QTest::newRow("empty symbol") << "" << QList<QByteArray>{good} << false;
    // Both requests of the display's start get garbage; the retry 30 ticks
    // later gets a quote.
    QTest::newRow("garbage, then a quote")
            << "IBM" << QList<QByteArray>{"<<garbage", "not xml", good} << true;
}

void TestForm1::kioskOpensTheDisplayUnattended()
{
    QFETCH(QString, symbol);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(bool, failedStart);

    ScriptedFetcher fetcher;
    fetcher.replies = replies;
    const ScopedOverride<Quote::Fetcher> fetch(fetcher);
    ProductionBoxes dialogs;
    const ScopedOverride<Dialogs> production(dialogs);
    Settings::save(Settings::Key::Text1, symbol);

    QPointer<Form1> form1 = Forms::form1();
    form1->show();
    bool clicked = false;
    connect(child<PushButton>(form1, "PushButton1"), &QPushButton::clicked, this,
            [&clicked] { clicked = true; });
    Kiosk::start();
    Dialogs::setMessageAutoClose(50);
    QTRY_VERIFY(clicked);
    if (symbol.isEmpty()) {
        QVERIFY(form1 && form1->isVisible());
        QVERIFY(!Forms::loadedForm2());
        return;
    }
    QTRY_VERIFY(!form1);
    Form2 *form2 = Forms::loadedForm2();
    QVERIFY(form2 && form2->isVisible());
    QCOMPARE(form2->mStockSymbol, symbol);
    // No box: what failed is on the notice line instead.
    QCOMPARE(dialogs.messages.size(), 0);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    if (failedStart) {
        QVERIFY(form2->mQuoteText.isEmpty());
        QVERIFY(form2->noticeText().startsWith(
                QString::fromUtf8("Service unreachable \u00B7 Error reading XML API / error:")));
        form2->mTickCount = Form2::RetryTicks[0] - 1;
        form2->Timer1_Timer();
    }
    QVERIFY(form2->mQuoteText.startsWith(symbol + "\r\nStock Change: -0.42\r\n"));
    QCOMPARE(form2->noticeText(), QString());
    QCOMPARE(dialogs.messages.size(), 0);
}

// The display is not shown yet while it loads: the boxes of its first
// fetches come over the options window the user sees, not at the display's
// unshown place in a corner of the screen.
void TestForm1::boxesOfTheLoadingDisplayComeOverTheOptionsWindow()
{
    ScriptedFetcher fetcher;
    fetcher.replies = {"<<garbage"};
    const ScopedOverride<Quote::Fetcher> fetch(fetcher);
    ProductionBoxes dialogs;
    const ScopedOverride<Dialogs> production(dialogs);
    Dialogs::setMessageAutoClose(50);
    Settings::save(Settings::Key::Text1, "IBM");

    Form1 *form1 = Forms::form1();
    form1->show();
    // Away from the middle of the screen, where a box without a window lands.
    form1->move(30, 20);
    form1->activateWindow();
    QTRY_VERIFY(form1->isActiveWindow());
    const QPoint form1Centre = form1->geometry().center();
    form1->PushButton1_Click();
    QCOMPARE(dialogs.centres.size(), 2);
    for (const QPoint &centre : dialogs.centres)
        QVERIFY2((centre - form1Centre).manhattanLength() < 4,
                 qPrintable(QStringLiteral("box at %1,%2, options window at %3,%4")
                                    .arg(centre.x())
                                    .arg(centre.y())
                                    .arg(form1Centre.x())
                                    .arg(form1Centre.y())));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
