#include "options/form3.h"

#include "app/appshell.h"
#include "app/colors.h"
#include "app/conversions.h"
#include "app/errortrap.h"
#include "app/forms.h"
#include "app/seams.h"
#include "app/settings.h"
#include "app/twips.h"
#include "options/form1.h"
#include "options/pushbutton.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

Form3 *Forms::form3()
{
    return static_cast<Form3 *>(form(Window::Colours));
}

Form3 *Forms::loadedForm3()
{
    return static_cast<Form3 *>(loaded(Window::Colours));
}

Form3::Form3(QWidget *parent) : Form(parent)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont());
    setFixedSize(twips(8040), twips(1755));
    centreOnFirstShow();
    buildControls();
}

void Form3::buildControls()
{
    const auto frame = [this](const QString &caption, QRect geometry) {
        auto *box = new QGroupBox(caption, this);
        box->setGeometry(geometry);
        setPointerOnMove(box, PointerDefault);
        return box;
    };
    const auto swatch = [this](QGroupBox *parent) {
        auto *label = new QLabel(parent);
        label->setGeometry(twipsRect(240, 300, 3300, 495));
        setPointerOnMove(label, PointerCustom);
        return label;
    };

    Frame1 = frame(QStringLiteral("Text Color Option"), twipsRect(120, 120, 3840, 975));
    Label1 = swatch(Frame1);
    Frame2 = frame(QStringLiteral("Background Color Option"), twipsRect(4080, 120, 3840, 975));
    Label2 = swatch(Frame2);
    PushButton1 = new PushButton(QStringLiteral("Close"), this);
    PushButton1->setGeometry(twipsRect(120, 1230, 7800, 405));
    // Below the client area: never seen, but first in the tab order, so it
    // holds the focus and no visible control shows a focus frame.
    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setGeometry(twipsRect(3480, 2500, 1215, 510));
    setTabOrder(Text1, PushButton1);
    Text1->setFocus();

    setPointerOnMove(this, PointerDefault);
    setPointerOnMove(PushButton1, PointerCustom);

    nameControls({{Frame1, "Frame1"},
                  {Label1, "Label1"},
                  {Frame2, "Frame2"},
                  {Label2, "Label2"},
                  {PushButton1, "PushButton1"},
                  {Text1, "Text1"}});

    connect(PushButton1, &QPushButton::clicked, this, &Form3::PushButton1_Click);
}

void Form3::Form_Load()
{
    ErrorTrap trap(QStringLiteral("Form3"), QStringLiteral("Form_Load"));
    trap(100, [&] { AppShell::SetButtonFaceColors(this); });
    trap(102, [&] { setWindowIcon(AppShell::applicationIcon()); });
    trap(104, [&] { setWindowTitle(AppShell::ProductName); });
    const QString cursorFile = AppShell::besideProgram(AppShell::HandCursorFile);
    if (trap.when(106, [&] { return AppShell::FileExists(cursorFile); }))
        trap(108, [&] { setMouseIcon(AppShell::loadCursorFile(cursorFile)); });
    // After the button-face colouring, so the swatches show the stored colours.
    trap(110, [&] {
        Colors::setBackColor(Label1,
                             Convert::toColor(Settings::get(Settings::Key::FontColor, "16777215")));
    });
    trap(112, [&] {
        Colors::setBackColor(Label2,
                             Convert::toColor(Settings::get(Settings::Key::BackgroundColor, "0")));
    });
}

void Form3::Form_Unload()
{
    // However this window closes, the options window it replaced comes back:
    // the same, still loaded one, so its Form_Load does not run again.
    if (Form1 *form = Forms::form1())
        form->show();
}

void Form3::Label1_Click()
{
    runUntrapped("Form3.Label1_Click",
                 [&] { chooseSwatchColor(Label1, Settings::Key::FontColor); });
}

void Form3::Label2_Click()
{
    runUntrapped("Form3.Label2_Click",
                 [&] { chooseSwatchColor(Label2, Settings::Key::BackgroundColor); });
}

void Form3::chooseSwatchColor(QLabel *swatch, const QString &key)
{
    // The dialog starts on the swatch's colour; a cancel leaves that colour,
    // which is then stored again.
    std::uint32_t color = Colors::backColor(swatch);
    Dialogs::instance().chooseColor(this, color);
    Colors::setBackColor(swatch, color);
    Settings::save(key, Colors::toText(Colors::backColor(swatch)));
}

void Form3::PushButton1_Click()
{
    ErrorTrap trap(QStringLiteral("Form3"), QStringLiteral("PushButton1_Click"));
    trap(100, [&] { Forms::unload(this); });
}

bool Form3::eventFilter(QObject *watched, QEvent *event)
{
    const bool overSwatch = watched == Label1 || watched == Label2;
    if (overSwatch && event->type() == QEvent::MouseButtonPress)
        return true;
    // A click: the left button pressed and released over the swatch.
    if (overSwatch && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton
            && static_cast<QLabel *>(watched)->rect().contains(mouse->position().toPoint())) {
            if (watched == Label1)
                Label1_Click();
            else
                Label2_Click();
        }
        return true;
    }
    return Form::eventFilter(watched, event);
}
