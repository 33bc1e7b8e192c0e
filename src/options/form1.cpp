#include "options/form1.h"

#include "app/appshell.h"
#include "app/colors.h"
#include "app/conversions.h"
#include "app/errortrap.h"
#include "app/forms.h"
#include "app/seams.h"
#include "app/settings.h"
#include "app/twips.h"
#include "display/form2.h"
#include "options/pushbutton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>

namespace {

// A check box that a click toggles between clear and ticked, as a greyed box
// turns ticked when clicked.
class CheckBox : public QCheckBox
{
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override
    {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        setTristate(false);
    }
};

// List index -1 (no selection) up to the last item; anything else throws.
void setListIndex(QComboBox *list, int index)
{
    if (index < -1 || index >= list->count())
        throw RuntimeError(Errors::InvalidPropertyValue);
    list->setCurrentIndex(index);
}

} // namespace

Form1 *Forms::form1()
{
    return static_cast<Form1 *>(form(Window::Options));
}

Form1 *Forms::loadedForm1()
{
    return static_cast<Form1 *>(loaded(Window::Options));
}

Form1::Form1(QWidget *parent) : Form(parent)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Form2"));
    setWindowIcon(AppShell::designIcon());
    setFont(windowFont());
    setFixedSize(twips(8040), twips(5445));
    centreOnFirstShow();
    Colors::setBackColor(this, Colors::White);
    buildControls();
}

void Form1::buildControls()
{
    const auto frame = [this](const QString &caption, QRect geometry) {
        auto *box = new QGroupBox(caption, this);
        box->setGeometry(geometry);
        Colors::setBackColor(box, Colors::White);
        setPointerOnMove(box, PointerDefault);
        return box;
    };
    const auto check = [](const QString &caption, QWidget *parent, QRect geometry) {
        auto *box = new CheckBox(caption, parent);
        box->setGeometry(geometry);
        Colors::setBackColor(box, Colors::White);
        return box;
    };
    const auto button = [this](const QString &caption, QWidget *parent, QRect geometry) {
        auto *push = new PushButton(caption, parent);
        push->setGeometry(geometry);
        setPointerOnMove(push, PointerCustom);
        return push;
    };

    PushButton1 = button(QStringLiteral("Show Stock Quote Details At Fullscreen"), this,
                         twipsRect(120, 120, 7800, 405));
    Frame2 = frame(QStringLiteral("Enter stock symbol"), twipsRect(120, 570, 7800, 825));
    Text1 = new QLineEdit(QStringLiteral("Text1"), Frame2);
    Text1->setGeometry(twipsRect(240, 300, 6735, 345));
    PushButton4 = button(QStringLiteral("?"), Frame2, twipsRect(7080, 300, 495, 345));
    Frame1 = frame(QStringLiteral("Prevent Option"), twipsRect(120, 1425, 7800, 1050));
    Check4 = check(QStringLiteral("Prevent computer from sleeping or starting screensaver"), Frame1,
                   twipsRect(240, 300, 5295, 255));
    Check1 = check(QStringLiteral("Hide 'Press ESC To Exit'"), Frame1,
                   twipsRect(240, 650, 5295, 255));
    Frame6 = frame(QStringLiteral("Text Alignment"), twipsRect(120, 2550, 7800, 800));
    Combo1 = new QComboBox(Frame6);
    Combo1->setEditable(false);
    Combo1->setGeometry(twipsRect(240, 300, 7335, 345));
    PushButton2 = button(QStringLiteral("Change Font Style && Size"), this,
                         twipsRect(120, 3420, 7800, 405));
    PushButton3 = button(QStringLiteral("Reset Font To Default"), this,
                         twipsRect(120, 3930, 7800, 405));
    PushButton5 = button(QStringLiteral("Change Color"), this, twipsRect(120, 4440, 7800, 405));
    PushButton6 = button(QStringLiteral("Reset Color To Defaults"), this,
                         twipsRect(120, 4950, 7800, 405));

    // Tab order: Text1, "?", display button, the two boxes, the list, then the
    // four font and colour buttons.
    QWidget *order[] = {Text1,  PushButton4, PushButton1, Check4,      Check1,
                        Combo1, PushButton2, PushButton3, PushButton5, PushButton6};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // These controls have no mouse-move handler: over them the pointer stays
    // as last set.
    for (QWidget *control : std::initializer_list<QWidget *>{Text1, Check1, Check4, Combo1})
        keepPointerOnMove(control);
    setPointerOnMove(this, PointerDefault);
    Text1->installEventFilter(this);

    nameControls({{PushButton1, "PushButton1"},
                  {Frame2, "Frame2"},
                  {Text1, "Text1"},
                  {PushButton4, "PushButton4"},
                  {Frame1, "Frame1"},
                  {Check4, "Check4"},
                  {Check1, "Check1"},
                  {Frame6, "Frame6"},
                  {Combo1, "Combo1"},
                  {PushButton2, "PushButton2"},
                  {PushButton3, "PushButton3"},
                  {PushButton5, "PushButton5"},
                  {PushButton6, "PushButton6"}});

    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Check1, &QCheckBox::stateChanged, this, &Form1::Check1_Click);
    connect(Check4, &QCheckBox::stateChanged, this, &Form1::Check4_Click);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &Form1::Combo1_Click);
    connect(Combo1, &QComboBox::editTextChanged, this, &Form1::Combo1_Change);
}

void Form1::Form_Load()
{
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    const QString cursorFile = AppShell::besideProgram(AppShell::HandCursorFile);
    if (trap.when(100, [&] { return AppShell::FileExists(cursorFile); }))
        trap(102, [&] { setMouseIcon(AppShell::loadCursorFile(cursorFile)); });
    trap(104, [&] { AppShell::ApplySkin(this); });
    trap(106, [&] { setWindowTitle(AppShell::ProductName); });
    trap(106, [&] { setWindowIcon(AppShell::applicationIcon()); });
    trap(106, [&] { AppShell::SetAppTitle(AppShell::ProductName); });
    trap(128, [&] {
        setCheckValue(Check1, Convert::toInt16(Settings::get(Settings::Key::Check1, "0")));
    });
    trap(130, [&] {
        setCheckValue(Check4, Convert::toInt16(Settings::get(Settings::Key::Check4, "0")));
    });
    trap(132, [&] { Text1->setText(Settings::get(Settings::Key::Text1, "GOOG")); });
    // Appending to an empty list must not select anything: the list keeps
    // index -1 until step 138 sets it.
    const auto addItem = [&](const QString &text) {
        const QSignalBlocker blocker(Combo1);
        Combo1->addItem(text);
        Combo1->setCurrentIndex(-1);
    };
    trap(134, [&] { addItem(QStringLiteral("Left Justify")); });
    trap(136, [&] { addItem(QStringLiteral("Center")); });
    trap(138, [&] {
        setListIndex(Combo1, Convert::toInt16(Settings::get(Settings::Key::Combo1, "0")));
    });
    trap(140, [&] { mOpeningDisplay = false; });
    trap(142, [&] { setWindowTitle(AppShell::ProductName); });
    trap(142, [&] { setWindowIcon(AppShell::applicationIcon()); });
    trap(142, [&] { AppShell::SetAppTitle(AppShell::ProductName); });
}

void Form1::Form_QueryUnload()
{
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("Form_QueryUnload"));
    // Unloading because the display takes over lets the program run on.
    if (!trap.when(100, [&] { return mOpeningDisplay; }))
        trap(102, [] { Forms::endProgram(); });
}

void Form1::PushButton1_Click()
{
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));
    if (trap.when(100, [&] { return Text1->text().isEmpty(); }))
        return;
    trap(102, [&] { mOpeningDisplay = true; });
    trap(104, [&] { Forms::form2()->mStockSymbol = Text1->text(); });
    trap(106, [&] { Forms::form2()->ReLoadStyle(); });
    trap(108, [&] { Forms::form2()->showDisplay(screen()); });
    trap(110, [&] { Forms::unload(this); });
}

void Form1::PushButton4_Click()
{
    ErrorTrap trap(QStringLiteral("Form1"), QStringLiteral("PushButton4_Click"));
    trap(100, [&] {
        Dialogs::instance().message(
                this, QStringLiteral("Please enter stock symbol such as GOOG or MSFT"),
                AppShell::appTitle(), BoxIcon::None);
    });
}

void Form1::Text1_GotFocus()
{
    Text1->setSelection(0, int(Text1->text().length()));
}

void Form1::Text1_Change()
{
    runUntrapped("Form1.Text1_Change",
                 [&] { Settings::save(Settings::Key::Text1, Text1->text()); });
}

void Form1::Check1_Click()
{
    runUntrapped("Form1.Check1_Click", [&] {
        Settings::save(Settings::Key::Check1, QString::number(checkValue(Check1)));
    });
}

void Form1::Check4_Click()
{
    runUntrapped("Form1.Check4_Click", [&] {
        Settings::save(Settings::Key::Check4, QString::number(checkValue(Check4)));
    });
}

void Form1::Combo1_Click()
{
    runUntrapped("Form1.Combo1_Click", [&] {
        Settings::save(Settings::Key::Combo1, QString::number(Combo1->currentIndex()));
    });
}

void Form1::Combo1_Change()
{
    runUntrapped("Form1.Combo1_Change", [&] {
        Settings::save(Settings::Key::Combo1, QString::number(Combo1->currentIndex()));
    });
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && watched == Text1) {
        // Runs before the box's own focus handling, as a focus handler would.
        Text1_GotFocus();
    }
    return Form::eventFilter(watched, event);
}
