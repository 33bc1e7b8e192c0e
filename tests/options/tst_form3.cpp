#include "app/appshell.h"
#include "app/colors.h"
#include "app/forms.h"
#include "app/settings.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/form3.h"
#include "options/pushbutton.h"
#include "realdialogs.h"

#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

namespace {

void moveOver(QWidget *widget)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QColor shownColor(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window);
}

int visibleWindows(const char *className)
{
    int count = 0;
    for (const QWidget *window : QApplication::topLevelWidgets())
        count += window->isVisible() && window->inherits(className);
    return count;
}

} // namespace

class TestForm3 : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup()
    {
        mEnv.reset();
        QApplication::setPalette(QPalette());
        QCOMPARE(visibleWindows("QWidget"), 0);
    }

    void windowLayoutAndFocus();
    void swatchesShowTheStoredColours_data();
    void swatchesShowTheStoredColours();
    void systemColoursShowAndStoreAsThemselves();
    void swatchClicksStoreTheChosenColour();
    void closingEitherWayBringsBackTheSameOptionsWindow();
    void resetColoursWhileTheDisplayIsHidden();
    void hoverPointer();
    void productionColourDialog();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestForm3::windowLayoutAndFocus()
{
    Form3 *form = Forms::form3();
    QCOMPARE(form->size(), QSize(536, 117));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QVERIFY(!(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(form->windowTitle(), AppShell::ProductName);
    QCOMPARE(child<QLabel>(form, "Label2")->parentWidget(), child<QGroupBox>(form, "Frame2"));
    QCOMPARE(child<QLabel>(form, "Label2")->mapTo(form, QPoint()), QPoint(288, 28));
    // The text box is never seen, yet holds the focus and leads the tab order.
    QVERIFY(child<QLineEdit>(form, "Text1")->geometry().top() >= form->height());
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form));
    QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(form, "Text1"));
    QTest::keyClick(child<QLineEdit>(form, "Text1"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<PushButton>(form, "PushButton1"));
}

void TestForm3::swatchesShowTheStoredColours_data()
{
    QTest::addColumn<QString>("fontColor"); // "<absent>": not stored
    QTest::addColumn<QString>("backgroundColor");
    QTest::addColumn<uint>("label1");
    QTest::addColumn<uint>("label2");
    QTest::addColumn<QStringList>("errors");
    const auto report = [](const char *description, int step) {
        return errorReport(description, "Form3", "Form_Load", step);
    };
    const uint face = Colors::ButtonFace;
    QTest::newRow("empty store") << "<absent>"
                                 << "<absent>" << uint(Colors::White) << uint(Colors::Black)
                                 << QStringList();
    QTest::newRow("red, blue") << "255"
                               << "16711680" << 0x0000FFu << 0xFF0000u << QStringList();
    QTest::newRow("system colours")
            << "-2147483633"
            << "-2147483630" << face << uint(Colors::ButtonText) << QStringList();
    QTest::newRow("not numbers") << "white"
                                 << "" << face << face
                                 << QStringList{report("Type mismatch", 110),
                                                report("Type mismatch", 112)};
    QTest::newRow("beyond 32 bits")
            << "4294967296"
            << "2147483648" << face << face
            << QStringList{report("Overflow", 110), report("Overflow", 112)};
}

void TestForm3::swatchesShowTheStoredColours()
{
    QFETCH(QString, fontColor);
    QFETCH(QString, backgroundColor);
    QFETCH(uint, label1);
    QFETCH(uint, label2);
    QFETCH(QStringList, errors);
    if (fontColor != "<absent>")
        Settings::save(Settings::Key::FontColor, fontColor);
    if (backgroundColor != "<absent>")
        Settings::save(Settings::Key::BackgroundColor, backgroundColor);

    Form3 *form = Forms::form3();
    QCOMPARE(mEnv->dialogs.errorTexts(), errors);
    QCOMPARE(Colors::backColor(child<QLabel>(form, "Label1")), std::uint32_t(label1));
    QCOMPARE(Colors::backColor(child<QLabel>(form, "Label2")), std::uint32_t(label2));
    QCOMPARE(shownColor(child<QLabel>(form, "Label2")), Colors::toQColor(label2));
    QCOMPARE(Colors::backColor(child<QGroupBox>(form, "Frame1")), Colors::ButtonFace);
    QCOMPARE(Colors::backColor(form), Colors::ButtonFace);
    // Loading only reads.
    QCOMPARE(mEnv->stored("Font Color"), fontColor);
    QCOMPARE(mEnv->stored("Background Color"), backgroundColor);
}

void TestForm3::systemColoursShowAndStoreAsThemselves()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(10, 20, 30));
    palette.setColor(QPalette::ButtonText, QColor(40, 50, 60));
    QApplication::setPalette(palette);
    QCOMPARE(Colors::toQColor(Colors::ButtonText), QColor(40, 50, 60));

    Settings::save(Settings::Key::BackgroundColor, "-2147483633");
    Form3 *form = Forms::form3();
    QCOMPARE(shownColor(child<QLabel>(form, "Label2")), QColor(10, 20, 30));
    // A cancelled dialog stores the system colour again, readable as before.
    form->Label2_Click();
    QCOMPARE(mEnv->dialogs.colorPresets.value(0), Colors::ButtonFace);
    QCOMPARE(mEnv->stored("Background Color"), QStringLiteral("-2147483633"));
    QCOMPARE(Colors::toText(0xFFFFFFFFu), QStringLiteral("-1"));

    // So does a swatch left in the button face by a bad stored value.
    Forms::destroyAll();
    Settings::save(Settings::Key::FontColor, "blue");
    Forms::form3()->Label1_Click();
    QCOMPARE(mEnv->stored("Font Color"), QStringLiteral("-2147483633"));
}

void TestForm3::swatchClicksStoreTheChosenColour()
{
    Settings::save(Settings::Key::BackgroundColor, "255");
    Form3 *form = Forms::form3();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));

    // Pressed on the swatch but released off it, or the right button: no click.
    QTest::mousePress(child<QLabel>(form, "Label1"), Qt::LeftButton);
    QTest::mouseRelease(child<QLabel>(form, "Label1"), Qt::LeftButton, {}, QPoint(-5, -5));
    QTest::mouseClick(child<QLabel>(form, "Label2"), Qt::RightButton);
    QVERIFY(mEnv->dialogs.colorPresets.isEmpty());

    mEnv->dialogs.onColor = [](std::uint32_t &color) { color = 0x00123456; };
    QTest::mouseClick(child<QLabel>(form, "Label1"), Qt::LeftButton);
    QCOMPARE(mEnv->stored("Font Color"), QStringLiteral("1193046"));
    QCOMPARE(shownColor(child<QLabel>(form, "Label1")), QColor(0x56, 0x34, 0x12));
    QTest::mouseClick(child<QLabel>(form, "Label2"), Qt::LeftButton);
    QCOMPARE(mEnv->stored("Background Color"), QStringLiteral("1193046"));

    // Cancel: each dialog started on its swatch's colour, which is stored again.
    mEnv->dialogs.onColor = nullptr;
    QTest::mouseClick(child<QLabel>(form, "Label1"), Qt::LeftButton);
    QCOMPARE(mEnv->dialogs.colorPresets,
             (QList<std::uint32_t>{Colors::White, 0x000000FF, 0x00123456}));
    QCOMPARE(mEnv->stored("Font Color"), QStringLiteral("1193046"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm3::closingEitherWayBringsBackTheSameOptionsWindow()
{
    Form1 *options = Forms::form1();
    options->show();
    for (const bool byCloseBox : {false, true}) {
        QTest::mouseClick(child<PushButton>(options, "PushButton5"), Qt::LeftButton);
        options->PushButton5_Click(); // a second opening shows the same window
        QPointer<Form3> colours = Forms::loadedForm3();
        QCOMPARE(visibleWindows("Form3"), 1);
        QVERIFY(!options->isVisible());

        if (byCloseBox)
            colours->close();
        else
            QTest::mouseClick(child<PushButton>(colours, "PushButton1"), Qt::LeftButton);
        QVERIFY(!Forms::loadedForm3());
        QTRY_VERIFY(colours.isNull());
        // The same options window, not loaded again: its list still holds
        // only the two items its load adds.
        QCOMPARE(Forms::loadedForm1(), options);
        QVERIFY(options->isVisible());
        QCOMPARE(child<QComboBox>(options, "Combo1")->count(), 2);
    }
    // Each opening reads the store afresh.
    Settings::save(Settings::Key::FontColor, "65280");
    options->PushButton5_Click();
    QCOMPARE(Colors::backColor(child<QLabel>(Forms::loadedForm3(), "Label1")), 0x00FF00u);
    QVERIFY(!Forms::ending());
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestForm3::resetColoursWhileTheDisplayIsHidden()
{
    Settings::save(Settings::Key::FontColor, "255");
    Settings::save(Settings::Key::BackgroundColor, "nonsense");
    Form2 *display = Forms::form2(); // loaded, not shown
    Form1 *options = Forms::form1();
    options->show();
    QTest::mouseClick(child<PushButton>(options, "PushButton6"), Qt::LeftButton);
    QCOMPARE(mEnv->stored("Font Color"), QStringLiteral("16777215"));
    QCOMPARE(mEnv->stored("Background Color"), QStringLiteral("0"));
    QVERIFY(!Forms::loadedForm3());
    QVERIFY(options->isVisible());
    QVERIFY(mEnv->dialogs.messages.isEmpty());

    options->PushButton5_Click();
    Form3 *colours = Forms::loadedForm3();
    QCOMPARE(Colors::backColor(child<QLabel>(colours, "Label1")), Colors::White);
    QCOMPARE(Colors::backColor(child<QLabel>(colours, "Label2")), Colors::Black);
    colours->PushButton1_Click();
    QVERIFY(options->isVisible());
    QCOMPARE(Forms::loadedForm2(), display);
    QVERIFY(!display->isVisible());
}

void TestForm3::hoverPointer()
{
    Form3 *form = Forms::form3();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    const std::pair<QWidget *, int> sequence[]
            = {{child<QLabel>(form, "Label1"), 99},          {child<QGroupBox>(form, "Frame1"), 0},
               {child<QLabel>(form, "Label2"), 99},          {child<QGroupBox>(form, "Frame2"), 0},
               {child<PushButton>(form, "PushButton1"), 99}, {form, 0}};
    for (const auto &[widget, code] : sequence) {
        moveOver(widget);
        QCOMPARE(form->mousePointer(), code);
        QCOMPARE(form->cursor().shape(), code == 99 ? Qt::BitmapCursor : Qt::ArrowCursor);
    }

    // Built without its load, a window has no pointer image: the arrow shows.
    Form3 bare;
    moveOver(child<QLabel>(&bare, "Label2"));
    QCOMPARE(bare.mousePointer(), 99);
    QCOMPARE(bare.cursor().shape(), Qt::ArrowCursor);
}

void TestForm3::productionColourDialog()
{
    RealPickers pickers;
    Settings::save(Settings::Key::FontColor, "255");
    Settings::save(Settings::Key::BackgroundColor, "-2147483633");
    Form3 *form = Forms::form3();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));

    QList<QColor> presets;
    const auto answer = [&](bool accept) {
        whenModal([&presets, accept](QWidget *modal) {
            auto *dialog = qobject_cast<QColorDialog *>(modal);
            if (!dialog)
                return void(modal->close());
            presets << dialog->currentColor();
            dialog->setCurrentColor(QColor(0, 128, 255));
            accept ? dialog->accept() : dialog->reject();
        });
    };
    answer(true);
    QTest::mouseClick(child<QLabel>(form, "Label1"), Qt::LeftButton);
    QCOMPARE(mEnv->stored("Font Color"), QString::number(0x00FF8000));
    QCOMPARE(shownColor(child<QLabel>(form, "Label1")), QColor(0, 128, 255));

    answer(false);
    QTest::mouseClick(child<QLabel>(form, "Label2"), Qt::LeftButton);
    QCOMPARE(mEnv->stored("Background Color"), QStringLiteral("-2147483633"));
    QCOMPARE(presets,
             (QList<QColor>{QColor(255, 0, 0), QApplication::palette().color(QPalette::Button)}));
    QVERIFY(pickers.messages.isEmpty());
}

QTEST_MAIN(TestForm3)
#include "tst_form3.moc"
