#include "app/forms.h"
#include "app/runtimeerror.h"
#include "app/settings.h"
#include "options/form1.h"
#include "options/pushbutton.h"
#include "realdialogs.h"

#include <QCheckBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

namespace {

// The six font values in the order name, bold, italic, size, strike, underline,
// whatever letter case their keys were written with.
QStringList storedFont()
{
    QStringList values;
    for (const char *key :
         {"FontName", "FontBold", "FontItalic", "FontSize", "FontStrikeThru", "FontUnderLine"})
        values << Settings::get(QString::fromLatin1(key), QStringLiteral("<absent>"));
    return values;
}

QStringList inStoredForm(const FontChoice &font)
{
    const auto flag = [](bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); };
    return {font.name,
            flag(font.bold),
            flag(font.italic),
            QString::number(font.size),
            flag(font.strikethru),
            flag(font.underline)};
}

} // namespace

class TestFont : public QObject
{
    Q_OBJECT

private slots:
    void init() { mEnv = std::make_unique<TestEnvironment>(); }
    void cleanup() { mEnv.reset(); }

    void cancelOnEmptyStoreWritesTheDialogPresets();
    void oddStoredValues_data();
    void oddStoredValues();
    void okStoresTheChoiceWithTheSizeClamped();
    void dialogMembersLastAsLongAsTheWindow();
    void resetStoresArialAndShowsNothing();
    void productionDialogKeepsEffectsAndResolvesArial();
    void productionDialogOpensOnTheStoredFace_data();
    void productionDialogOpensOnTheStoredFace();

private:
    std::unique_ptr<TestEnvironment> mEnv;
};

void TestFont::cancelOnEmptyStoreWritesTheDialogPresets()
{
    Form1 *form = Forms::form1();
    QTest::mouseClick(child<PushButton>(form, "PushButton2"), Qt::LeftButton);
    const QStringList defaults = {"Courier New", "True", "False", "72", "False", "False"};
    QCOMPARE(inStoredForm(mEnv->dialogs.fontPresets.value(0)), defaults);
    QCOMPARE(storedFont(), defaults);
    // The dialog writes these two under its own spelling of the key.
    QCOMPARE(mEnv->stored("FontStrikethru"), QStringLiteral("False"));
    QCOMPARE(mEnv->stored("FontUnderline"), QStringLiteral("False"));
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestFont::oddStoredValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("index"); // in storedFont()
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("error"); // reported for step 108, "" for none
    const auto row = [](const char *name, const char *key, const char *value, int index,
                        const char *preset, const char *written, const char *error = "") {
        QTest::newRow(name) << key << value << index << preset << written << error;
    };
    row("bold in lower case", "FontBold", "true", 1, "False", "False");
    row("bold as 1", "FontBold", "1", 1, "False", "False");
    row("bold empty", "FontBold", "", 1, "False", "False");
    row("italic True", "FontItalic", "True", 2, "True", "True");
    row("strike-through True", "FontStrikeThru", "True", 4, "True", "True");
    row("underline in lower case", "FontUnderLine", "true", 5, "False", "False");
    row("size 11.25", "FontSize", "11.25", 3, "11", "11");
    row("size 10.5 to even", "FontSize", "10.5", 3, "10", "10");
    row("size 11.5 to even", "FontSize", "11.5", 3, "12", "12");
    row("size above 250", "FontSize", "300", 3, "300", "250");
    row("size not a number", "FontSize", "abc", 3, "8", "8", "Type mismatch");
    row("size empty", "FontSize", "", 3, "8", "8", "Type mismatch");
    row("size beyond 16 bits", "FontSize", "40000", 3, "8", "8", "Overflow");
    row("face that does not exist", "FontName", "Qzxv Sans", 0, "Qzxv Sans", "Qzxv Sans");
}

void TestFont::oddStoredValues()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, index);
    QFETCH(QString, preset);
    QFETCH(QString, written);
    QFETCH(QString, error);
    Settings::save(key, value);
    Forms::form1()->PushButton2_Click(); // Cancel

    QCOMPARE(inStoredForm(mEnv->dialogs.fontPresets.value(0)).at(index), preset);
    const QStringList stored = storedFont();
    QCOMPARE(stored.at(index), written);
    QVERIFY(!stored.contains("<absent>"));
    // Rewritten in place, never doubled under the other letter case.
    QCOMPARE(mEnv->storeText().count(QStringLiteral("font"), Qt::CaseInsensitive), 6);
    QCOMPARE(mEnv->dialogs.errorTexts(),
             error.isEmpty() ? QStringList()
                             : QStringList{errorReport(error, "Form1", "PushButton2_Click", 108)});
}

void TestFont::okStoresTheChoiceWithTheSizeClamped()
{
    Settings::save(Settings::Key::FontStrikeThru, "True");
    Form1 *form = Forms::form1();
    const std::pair<float, const char *> sizes[]
            = {{300.0f, "250"}, {250.0f, "250"}, {8.0f, "8"}, {11.5f, "11.5"}};
    for (const auto &[size, written] : sizes) {
        mEnv->dialogs.onFont = [size = size](FontChoice &font) {
            font.name = QStringLiteral("Liberation Serif");
            font.bold = false;
            font.italic = true;
            font.size = size;
        };
        QTest::mouseClick(child<PushButton>(form, "PushButton2"), Qt::LeftButton);
        QCOMPARE(storedFont(),
                 (QStringList{"Liberation Serif", "False", "True", written, "True", "False"}));
    }
    QVERIFY(mEnv->dialogs.messages.isEmpty());
}

void TestFont::dialogMembersLastAsLongAsTheWindow()
{
    mEnv->dialogs.onFont = [](FontChoice &font) { font.size = 20.0f; };
    Form1 *form = Forms::form1();
    form->PushButton2_Click();

    // A size that cannot be read leaves the size of the previous use.
    mEnv->dialogs.onFont = nullptr;
    Settings::save(Settings::Key::FontSize, "big");
    form->PushButton2_Click();
    QCOMPARE(mEnv->stored("FontSize"), QStringLiteral("20"));

    // A new options window starts from the dialog's initial size; a dialog
    // that cannot be shown still lets the presets be saved.
    Forms::destroyAll();
    Settings::save(Settings::Key::FontSize, "big");
    Settings::save(Settings::Key::FontItalic, "True");
    mEnv->dialogs.onFont
            = [](FontChoice &) { throw RuntimeError(QStringLiteral("No fonts exist.")); };
    Forms::form1()->PushButton2_Click();
    QCOMPARE(storedFont(), (QStringList{"Courier New", "True", "True", "8", "False", "False"}));
    const auto report = [](const QString &description, int step) {
        return errorReport(description, "Form1", "PushButton2_Click", step);
    };
    QCOMPARE(mEnv->dialogs.errorTexts(),
             (QStringList{report("Type mismatch", 108), report("Type mismatch", 108),
                          report("No fonts exist.", 114)}));
}

void TestFont::resetStoresArialAndShowsNothing()
{
    Settings::save(QStringLiteral("FontStrikethru"), "True");
    Settings::save(Settings::Key::FontSize, "abc");
    Form1 *form = Forms::form1();
    QTest::mouseClick(child<PushButton>(form, "PushButton3"), Qt::LeftButton);
    QVERIFY(mEnv->dialogs.fontPresets.isEmpty());
    QVERIFY(mEnv->dialogs.messages.isEmpty());
    const QStringList defaults = {"Arial", "True", "False", "72", "False", "False"};
    QCOMPARE(storedFont(), defaults);
    QCOMPARE(mEnv->storeText().count(QStringLiteral("strikethru"), Qt::CaseInsensitive), 1);

    form->PushButton2_Click();
    QCOMPARE(inStoredForm(mEnv->dialogs.fontPresets.value(0)), defaults);
}

void TestFont::productionDialogKeepsEffectsAndResolvesArial()
{
    RealPickers pickers;
    Settings::save(Settings::Key::FontName, "Arial");
    Settings::save(Settings::Key::FontSize, "20");
    Settings::save(Settings::Key::FontStrikeThru, "True");
    Settings::save(Settings::Key::FontUnderLine, "True");
    Form1 *form = Forms::form1();
    form->show();

    // OK without a change: Arial stays Arial and bold, the effects survive.
    bool effectsHidden = false;
    QFont shown;
    whenModal([&](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFontDialog *>(modal)) {
            shown = dialog->currentFont();
            for (QGroupBox *group : dialog->findChildren<QGroupBox *>()) {
                if (!group->findChildren<QCheckBox *>().isEmpty())
                    effectsHidden = group->isHidden();
            }
            dialog->accept();
        } else {
            modal->close();
        }
    });
    form->PushButton2_Click();
    QVERIFY(effectsHidden);
    QCOMPARE(shown.family(), QFontInfo(QFont(QStringLiteral("Arial"))).family());
    QVERIFY(shown.bold());
    QCOMPARE(storedFont(), (QStringList{"Arial", "True", "False", "20", "True", "True"}));

    // A new family, style and size are taken.
    whenModal([](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFontDialog *>(modal)) {
            QFont serif(QStringLiteral("Liberation Serif"), 14);
            serif.setItalic(true);
            dialog->setCurrentFont(serif);
            dialog->accept();
        } else {
            modal->close();
        }
    });
    form->PushButton2_Click();
    QCOMPARE(storedFont(),
             (QStringList{"Liberation Serif", "False", "True", "14", "True", "True"}));

    // Cancel keeps what was stored.
    const QString before = mEnv->storeText();
    whenModal([](QWidget *modal) { modal->close(); });
    form->PushButton2_Click();
    QCOMPARE(mEnv->storeText(), before);
    QVERIFY(pickers.messages.isEmpty());
}

void TestFont::productionDialogOpensOnTheStoredFace_data()
{
    QTest::addColumn<QStringList>("font"); // name, bold, italic, size
    QTest::addColumn<QString>("family"); // the family the dialog shows
    QTest::addColumn<QString>("face"); // and its face

    // The DejaVu families name their regular face "Book".
    QTest::newRow("DejaVu Sans") << QStringList{"DejaVu Sans", "False", "False", "72"}
                                 << "DejaVu Sans"
                                 << "Book";
    QTest::newRow("DejaVu Serif bold")
            << QStringList{"DejaVu Serif", "True", "False", "36"} << "DejaVu Serif"
            << "Bold";
    QTest::newRow("DejaVu Sans Mono italic")
            << QStringList{"DejaVu Sans Mono", "False", "True", "12"} << "DejaVu Sans Mono"
            << "Oblique";
    QTest::newRow("Arial") << QStringList{"Arial", "False", "False", "72"} << "Liberation Sans"
                           << "Regular";
    QTest::newRow("Arial bold italic")
            << QStringList{"Arial", "True", "True", "250"} << "Liberation Sans"
            << "Bold Italic";
}

// OK without a change stores what was stored, through the dialog itself.
void TestFont::productionDialogOpensOnTheStoredFace()
{
    QFETCH(QStringList, font);
    QFETCH(QString, family);
    QFETCH(QString, face);
    RealPickers pickers;
    const char *keys[] = {"FontName", "FontBold", "FontItalic", "FontSize"};
    for (int i = 0; i < 4; ++i)
        Settings::save(QString::fromLatin1(keys[i]), font[i]);
    Form1 *form = Forms::form1();
    form->show();

    QStringList shown;
    bool sampleFits = false;
    whenModal([&](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFontDialog *>(modal)) {
            // The family, face and size boxes, in the dialog's order, then
            // the sample, tall enough to show the face at its size.
            const QList<QLineEdit *> edits = dialog->findChildren<QLineEdit *>();
            for (const QLineEdit *edit : edits.mid(0, 3))
                shown << edit->text();
            const QLineEdit *sample = edits.value(3);
            sampleFits = sample
                    && sample->height() >= std::min(QFontMetrics(sample->font()).height(), 160);
            dialog->accept();
        } else {
            modal->close();
        }
    });
    form->PushButton2_Click();
    QCOMPARE(shown, (QStringList{family, face, font[3]}));
    QVERIFY(sampleFits);
    QCOMPARE(storedFont(), font + QStringList({"False", "False"}));
    QVERIFY(pickers.messages.isEmpty());
}

QTEST_MAIN(TestFont)
#include "tst_font.moc"
