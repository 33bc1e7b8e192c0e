#include "display/form2.h"

#include "app/appshell.h"
#include "app/colors.h"
#include "app/conversions.h"
#include "app/displayoptions.h"
#include "app/errortrap.h"
#include "app/forms.h"
#include "app/seams.h"
#include "app/settings.h"
#include "app/twips.h"
#include "display/keepawake.h"
#include "display/latinkey.h"
#include "display/measuringlabel.h"
#include "display/picturebox.h"
#include "display/windowhints.h"
#include "quote/quote.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace {

constexpr int VkEscape = 27;
constexpr int VkShift = 16;

// Font properties are set one at a time, as each is its own step.
template<typename Value>
void setFontProperty(QWidget *widget, void (QFont::*setter)(Value),
                     std::type_identity_t<Value> value)
{
    QFont font = widget->font();
    (font.*setter)(value);
    widget->setFont(font);
}

void setFontSize(QWidget *widget, int points)
{
    // Beyond what a window-system font accepts; a 30000-point face would
    // also cost gigabytes of glyph cache.
    if (points < 1 || points > 2160)
        throw RuntimeError(Errors::InvalidPropertyValue);
    setFontProperty(widget, &QFont::setPointSize, points);
}

QString stored(const QString &key, const char *defaultValue)
{
    return Settings::get(key, QString::fromLatin1(defaultValue));
}

bool storedFlag(const QString &key, const char *defaultValue)
{
    return Convert::isTrue(stored(key, defaultValue));
}

std::uint32_t storedColor(const QString &key, const char *defaultValue)
{
    return Convert::toColor(stored(key, defaultValue));
}

bool storedCentred()
{
    return Convert::toInt16(stored(Settings::Key::Combo1, "1")) == 1;
}

// The classic key code of a Qt key: letters and digits keep their code. A
// letter key of a non-Latin layout counts as the Latin letter of the same key.
int keyCode(const QKeyEvent *event)
{
    const int key = event->key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key;
    if (key == Qt::Key_Escape)
        return VkEscape;
    if (key == Qt::Key_Shift)
        return VkShift;
    if (const int letter = latinLetterOfKey(event))
        return letter;
    return 0xFF; // any other key: it only has to be none of the above
}

// The options window, through the registry: the display does not know its
// class. It can no longer be loaded once the program is ending.
Form &optionsWindow()
{
    Form *form = Forms::form(Forms::Window::Options);
    if (!form)
        throw RuntimeError(Errors::ObjectNotSet);
    return *form;
}

// The options window's two options: the window registered as the options
// window always offers them.
DisplayOptions &options()
{
    return dynamic_cast<DisplayOptions &>(optionsWindow());
}

qint64 msecsNow()
{
    return Clock::instance().now().toMSecsSinceEpoch();
}

// A report's text on one line, for standard error and the notice line.
QString oneLine(const QString &text)
{
    static const QRegularExpression lineEnds(QStringLiteral("[\\r\\n]+"));
    QStringList lines = text.split(lineEnds, Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    return lines.join(QStringLiteral(" / "));
}

} // namespace

Form2 *Forms::form2()
{
    return static_cast<Form2 *>(form(Window::Display));
}

Form2 *Forms::loadedForm2()
{
    return static_cast<Form2 *>(loaded(Window::Display));
}

Form2::Form2(QWidget *parent) : Form(parent)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    WindowHints::setUpSkipTaskbar(this);
    setWindowTitle(QStringLiteral("Form1"));
    setFont(windowFont());
    resize(twips(7095), twips(3690));
    Colors::setBackColor(this, Colors::Black);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);

    Picture1 = new PictureBox(this);
    Picture1->setBackColor(Colors::Black);
    Picture1->setForeColor(Colors::White);
    Picture1->setTwipsGeometry(2640, 30, 4350, 1650);

    // Precise as well: a coarse timer may fire up to 5% late, past the minute
    // that a screen saver may be set to.
    Timer2 = new QTimer(this);
    Timer2->setTimerType(Qt::PreciseTimer);
    Timer2->setInterval(59000);
    connect(Timer2, &QTimer::timeout, this, &Form2::Timer2_Timer);

    // A precise timer: a coarse one may fire late by a few percent.
    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &Form2::Timer1_Expired);

    Label1 = new QLabel(QStringLiteral("Press ESC To Exit. Type 'hide' to hide this text."), this);
    Label1->setGeometry(twipsRect(120, 120, 4335, 495));
    Label1->setFont(windowFont());
    Colors::setBackColor(Label1, Colors::Black);
    Colors::setForeColor(Label1, Colors::White);

    lblData = new MeasuringLabel(this);
    QFont measuring(QStringLiteral("Courier New"));
    measuring.setPointSize(72);
    measuring.setBold(true);
    lblData->setFont(measuring);
    lblData->setCaption(QStringLiteral("12345"));
    lblData->hide();

    // The notice line, in the hint's font, over everything else at the
    // bottom left; hidden while there is nothing to say.
    lblNotice = new QLabel(this);
    lblNotice->setFont(windowFont());
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setAutoFillBackground(true);
    lblNotice->hide();

    nameControls({{Picture1, "Picture1"},
                  {Timer2, "Timer2"},
                  {Timer1, "Timer1"},
                  {Label1, "Label1"},
                  {lblData, "lblData"},
                  {lblNotice, "lblNotice"}});

    for (QWidget *child : findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->setFocusPolicy(Qt::NoFocus);

    armTimer1(msecsNow());
}

double Form2::scaleWidth() const
{
    return double(width()) * TwipsPerPixel;
}

double Form2::scaleHeight() const
{
    return double(height()) * TwipsPerPixel;
}

void Form2::Form_Load()
{
    ErrorTrap trap = makeTrap("Form_Load");
    trap(100, [&] { Form_Resize(); });
    trap(102, [&] { setWindowIcon(AppShell::applicationIcon()); });
    trap(104, [&] {
        setCheckValue(options().hideHintBox(),
                      Convert::toInt16(stored(Settings::Key::Check1, "0")));
    });
    if (trap.when(106, [&] { return checkValue(options().hideHintBox()) == 1; }))
        trap(108, [&] { Label1->setVisible(false); });
    else
        trap(110, [&] { Label1->setVisible(true); });
    trap(112, [&] {
        setCheckValue(options().keepAwakeBox(),
                      Convert::toInt16(stored(Settings::Key::Check4, "1")));
    });
    if (trap.when(114, [&] { return checkValue(options().keepAwakeBox()) == 1; }))
        trap(116, [&] { Timer2->start(); });
    else
        trap(118, [&] { Timer2->stop(); });
    trap(120, [&] { lblData->setVisible(false); });
    trap(122, [&] { Picture1->setVisible(false); });
}

void Form2::Form_Activate()
{
    ErrorTrap trap = makeTrap("Form_Activate");
    trap(100, [&] { lblData->setVisible(false); });
    // Hidden only when the next tick draws it again: without a quote to draw
    // (a failed refresh) the last drawing stays instead of a blank window.
    if (!mQuoteText.isEmpty() || sUnattended)
        trap(102, [&] { Picture1->setVisible(false); });
}

void Form2::Form_KeyDown(int keyCode)
{
    ErrorTrap trap = makeTrap("Form_KeyDown");
    const auto reset = [&](int first) {
        trap(first, [&] { mHideArmed = false; });
        trap(first + 2, [&] { mHideStep = 0; });
    };
    const auto advance = [&](int first, std::int16_t step) {
        trap(first, [&] { mHideArmed = true; });
        trap(first + 2, [&] { mHideStep = step; });
    };
    if (trap.when(100, [&] {
            return keyCode != Qt::Key_H && keyCode != Qt::Key_I && keyCode != Qt::Key_D
                    && keyCode != Qt::Key_E;
        }))
        reset(102);
    if (trap.when(106, [&] { return keyCode == VkEscape; })) {
        trap(108, [&] { hide(); });
        trap(110, [&] { showOptionsWindow(); });
        return;
    }
    if (trap.when(112, [&] { return keyCode == Qt::Key_H; })) {
        if (trap.when(114, [&] { return !mHideArmed; }))
            advance(116, 1);
        else
            reset(120);
        trap(124, [] {});
    } else if (trap.when(126, [&] { return keyCode == Qt::Key_I; })) {
        if (trap.when(128, [&] { return mHideArmed && mHideStep == 1; }))
            advance(130, 2);
        else
            reset(134);
        trap(138, [] {});
    } else if (trap.when(140, [&] { return keyCode == Qt::Key_D; })) {
        if (trap.when(142, [&] { return mHideArmed && mHideStep == 2; }))
            advance(144, 3);
        else
            reset(148);
        trap(152, [] {});
    } else if (trap.when(154, [&] { return keyCode == Qt::Key_E; })) {
        if (trap.when(156, [&] { return mHideArmed && mHideStep == 3; })) {
            if (trap.when(158, [&] { return Label1->width() != 0 && Label1->height() != 0; })
                && trap.when(160, [&] { return !isMinimized(); })) {
                trap(162, [&] { Label1->setFixedWidth(0); });
                trap(164, [&] { Label1->setFixedHeight(0); });
            }
        }
        reset(166);
        trap(170, [] {});
    }
}

// The options window, back on the monitor the display is on: that is where
// the user is looking. A window already shown stays where it is.
void Form2::showOptionsWindow()
{
    Form &options = optionsWindow();
    if (!options.isVisible())
        options.setStartScreen(screen());
    options.show();
}

void Form2::Form_MouseMove()
{
    setMousePointer(PointerDefault);
}

void Form2::Form_QueryUnload()
{
    ErrorTrap trap = makeTrap("Form_QueryUnload");
    trap(100, [&] { showOptionsWindow(); });
    trap(102, [] { QCoreApplication::processEvents(); });
    trap(104, [] { QCoreApplication::processEvents(); });
}

void Form2::Form_Resize()
{
    if (const int size = fittedPointSize(); size != Picture1->font().pointSize()) {
        for (QWidget *control : std::initializer_list<QWidget *>{Picture1, lblData})
            setFontSize(control, size);
    }
    // The lines' block, as wide as the window and as high as the measured
    // lines, centred top to bottom.
    const auto width = static_cast<float>(scaleWidth());
    const auto top = static_cast<float>(scaleHeight() / 2 - double(lblData->twipsHeight()) / 2);
    lblData->setTwipsLeft(0);
    lblData->setTwipsWidth(width);
    lblData->setTwipsTop(top);
    lblData->setVisible(false);
    Picture1->setVisible(false);
    Picture1->setTwipsGeometry(0, top, width, lblData->twipsHeight());
}

int Form2::fittedPointSize() const
{
    const int current = Picture1->font().pointSize();
    if (!sUnattended || mChosenPointSize <= 0)
        return current;
    const QStringList lines = lblData->caption().split(AppShell::CrLf);
    const auto fits = [&](int size) {
        QFont font = Picture1->font();
        font.setPointSize(size);
        const QFontMetricsF metrics(font);
        double widest = 0;
        for (const QString &line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        return widest <= width()
                && qint64(QFontMetrics(font).lineSpacing()) * lines.size() <= height();
    };
    if (fits(mChosenPointSize))
        return mChosenPointSize;
    // The largest size below the chosen one that fits; 1 point when none does.
    int low = 1;
    int high = mChosenPointSize - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (fits(middle))
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

bool Form2::layoutOutdated() const
{
    return lblData->twipsHeight() != Picture1->twipsHeight()
            || fittedPointSize() != Picture1->font().pointSize();
}

QString Form2::getStockQuote(QString *notice)
{
    ErrorTrap trap = makeTrap("getStockQuote");
    return Quote::getStockQuote(trap, mStockSymbol, this, notice);
}

ErrorTrap Form2::makeTrap(const char *operation)
{
    const QString name = QString::fromLatin1(operation);
    if (!sUnattended)
        return ErrorTrap(QStringLiteral("Form2"), name);
    const bool fetch = name == QLatin1String("getStockQuote");
    // A failure of an operation other than a fetch lasts until the operation
    // runs again; a failed fetch lasts until a fetch succeeds.
    if (!fetch)
        mFaults.remove(name);
    const QPointer<Form2> self(this);
    return ErrorTrap(QStringLiteral("Form2"), name,
                     [self, name, fetch](const QString &description, const QString &text) {
                         const QByteArray line
                                 = (QStringLiteral("tallow-marquee: ") + oneLine(text) + u'\n')
                                           .toLocal8Bit();
                         std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
                         std::fflush(stderr);
                         if (!self)
                             return;
                         if (fetch)
                             self->mFetchFault = oneLine(description);
                         else
                             self->mFaults.insert(name, oneLine(description));
                         self->updateNotice();
                     });
}

void Form2::refreshQuote()
{
    QString notice;
    const QString text = getStockQuote(&notice);
    if (!text.isEmpty()) {
        mQuoteText = text;
        mQuoteSymbol = mStockSymbol;
        mServiceNotice = notice;
        mQuoteTime = Clock::instance().now();
        mFailedFetches = 0;
        mRefreshDue = RefreshTicks;
        mFetchFault.clear();
        return;
    }
    if (!sUnattended) {
        mQuoteText = text;
        return;
    }
    // Unattended, the last quote of this symbol stays and the fetch is tried
    // again sooner, ever later while it keeps failing.
    if (mQuoteSymbol != mStockSymbol) {
        mQuoteText.clear();
        mServiceNotice.clear();
    }
    constexpr int retries = int(std::size(RetryTicks));
    mRefreshDue = mFailedFetches < retries ? RetryTicks[mFailedFetches] : RefreshTicks;
    ++mFailedFetches;
    mTickCount = 0;
}

QString Form2::noticeText() const
{
    QStringList parts;
    if (sUnattended && mFailedFetches > 0) {
        parts.append(mQuoteText.isEmpty()
                             ? QStringLiteral("Service unreachable")
                             : QStringLiteral("Quote as of %1, service unreachable")
                                       .arg(mQuoteTime.toString(QStringLiteral("HH:mm"))));
        if (!mFetchFault.isEmpty())
            parts.append(mFetchFault);
    }
    parts.append(mFaults.values());
    if (!mServiceNotice.isEmpty())
        parts.append(mServiceNotice);
    return parts.join(QStringLiteral(" \u00B7 "));
}

void Form2::updateNotice()
{
    const QString text = noticeText();
    if (text != lblNotice->text()) {
        lblNotice->setText(text);
        placeNotice();
    }
    lblNotice->setVisible(!text.isEmpty());
}

void Form2::placeNotice()
{
    // The hint's margin from the edges, in the quote's colours.
    QPalette palette = lblNotice->palette();
    palette.setColor(QPalette::Window, Colors::toQColor(mBackColor));
    palette.setColor(QPalette::WindowText, Colors::toQColor(Picture1->foreColor()));
    lblNotice->setPalette(palette);
    const int margin = twips(120);
    lblNotice->adjustSize();
    lblNotice->resize(std::min(lblNotice->width(), std::max(0, width() - 2 * margin)),
                      lblNotice->height());
    lblNotice->move(margin, height() - lblNotice->height() - margin);
    lblNotice->raise();
}

void Form2::ReLoadStyle()
{
    ErrorTrap trap = makeTrap("ReLoadStyle");
    using namespace Settings;
    trap(100, [&] { lblData->setVisible(false); });
    trap(102, [&] { Picture1->setVisible(false); });
    trap(104, [&] { lblData->setCaption(getStockQuote()); });
    // The stored font, one property per step, for the measuring label and
    // then the drawing surface. The size the drawing surface takes is the
    // chosen one, which an unattended display fits to the window.
    const auto loadFont = [&](QWidget *control, int first) {
        const auto flag = [&](int step, void (QFont::*setter)(bool), const QString &key,
                              const char *defaultValue) {
            trap(step, [&] { setFontProperty(control, setter, storedFlag(key, defaultValue)); });
        };
        trap(first,
             [&] { setFontProperty(control, &QFont::setFamily, stored(Key::FontName, "Arial")); });
        flag(first + 2, &QFont::setBold, Key::FontBold, "True");
        flag(first + 4, &QFont::setItalic, Key::FontItalic, "False");
        trap(first + 6, [&] {
            setFontSize(control, Convert::toInt16(stored(Key::FontSize, "72")));
            if (control == Picture1)
                mChosenPointSize = control->font().pointSize();
        });
        flag(first + 8, &QFont::setStrikeOut, Key::FontStrikeThru, "False");
        flag(first + 10, &QFont::setUnderline, Key::FontUnderLine, "False");
    };
    loadFont(lblData, 106);
    trap(118, [&] { lblData->setForeColor(storedColor(Key::FontColor, "16777215")); });
    trap(120, [&] { lblData->setBackColor(storedColor(Key::BackgroundColor, "0")); });
    if (trap.when(122, [&] { return storedCentred(); }))
        trap(124, [&] { lblData->setAlignment(MeasuringLabel::Center); });
    else
        trap(126, [&] { lblData->setAlignment(MeasuringLabel::LeftJustify); });
    const auto setWindowBack = [&] {
        mBackColor = storedColor(Key::BackgroundColor, "0");
        Colors::setBackColor(this, mBackColor);
    };
    trap(128, setWindowBack);
    trap(130, [&] { Colors::setBackColor(Label1, mBackColor); });
    trap(132, [&] { refreshQuote(); });
    loadFont(Picture1, 134);
    trap(146, setWindowBack);
    trap(148, [&] { Picture1->setForeColor(storedColor(Key::FontColor, "16777215")); });
    trap(150, [&] { Picture1->setBackColor(mBackColor); });
    trap(152, [&] { lblData->setBackColor(mBackColor); });
    trap(154, [&] { lblData->setForeColor(storedColor(Key::FontColor, "16777215")); });
    trap(156, [&] { Colors::setBackColor(Label1, mBackColor); });
    trap(158, [&] { mHideArmed = false; });
    trap(160, [&] { mHideStep = 0; });
    placeNotice();
    updateNotice();
}

void Form2::Timer1_Timer()
{
    // One tick at a time: a tick that yields to pending events must not be
    // entered again by the next timer expiry.
    if (mInTick || Forms::ending())
        return;
    const QPointer<Form2> self(this);
    mInTick = true;
    // The tick may end early, and the window may be gone by then.
    const auto endTick = qScopeGuard([&self] {
        if (self)
            self->mInTick = false;
    });
    const auto alive = [&] { return self && !Forms::ending(); };
    const auto yield = [&] { QCoreApplication::processEvents(); };
    const auto clockText = [] { return Convert::formatTimeOfDay(Clock::instance().now()); };

    ErrorTrap trap = makeTrap("Timer1_Timer");
    trap(100, [&] { lblData->setVisible(false); });
    trap(102, [&] { ++mTickCount; });
    if (trap.when(104, [&] { return mTickCount >= mRefreshDue; })) {
        trap(106, [&] { refreshQuote(); });
        if (!alive())
            return;
        trap(108, [&] { lblData->setCaption(getStockQuote()); });
        if (!alive())
            return;
        trap(110, [&] { mTickCount = 0; });
    }
    // Unattended, the clock is drawn also before the first quote.
    if (!trap.when(112, [&] { return mQuoteText.isEmpty() && !sUnattended; })) {
        QStringList pieces;
        QString caption;
        trap(114, [&] { pieces = mQuoteText.split(AppShell::CrLf); });
        trap(116, [&] {
            for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
                caption += pieces[i] + AppShell::CrLf;
        });
        trap(124, [&] { caption += clockText(); });
        trap(126, yield);
        if (!alive())
            return;
        trap(128, [&] { lblData->setCaption(caption); });
        // Other lines than the layout was made for (a failed start, a quote
        // with more lines, one too wide unattended): lay out again.
        trap(128, [&] {
            if (layoutOutdated())
                Form_Resize();
        });
        trap(130, yield);
        if (!alive())
            return;
        trap(132, [&] { Picture1->setVisible(true); });
        trap(134, [&] { Picture1->cls(); });
        trap(136, [&] { pieces = mQuoteText.split(AppShell::CrLf); });
        // Centred: half the box width less half the text width, each rounded
        // to whole twips and halved by integer division.
        const auto centredX = [&](const QString &text) {
            const auto whole
                    = [](double value) { return static_cast<std::int64_t>(std::nearbyint(value)); };
            // NOLINTNEXTLINE(bugprone-integer-division): the halves are whole twips on purpose
            return double(whole(Picture1->twipsWidth()) / 2 - whole(Picture1->textWidth(text)) / 2);
        };
        // One line, centred or from the left edge. Its text is taken anew at
        // each step, so the clock line reads the clock each time.
        const auto printLine = [&](int first, const auto &text) {
            if (trap.when(first, [&] { return storedCentred(); }))
                trap(first + 2, [&] { Picture1->setCurrentX(centredX(text())); });
            else
                trap(first + 4, [&] { Picture1->setCurrentX(0); });
            trap(first + 6, [&] { Picture1->print(text()); });
        };
        for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
            printLine(140, [&] { return pieces[i]; });
        printLine(150, clockText);
        trap(158, yield);
        if (!alive())
            return;
    }
    trap(160, yield);
    if (alive())
        updateNotice();
}

void Form2::armTimer1(qint64 now)
{
    const int intoSecond = int((now % Timer1Interval + Timer1Interval) % Timer1Interval);
    Timer1->start(Timer1Interval - intoSecond + Timer1Margin);
}

void Form2::Timer1_Expired()
{
    if (Forms::ending())
        return;
    const qint64 now = msecsNow();
    const qint64 second
            = (now - (now % Timer1Interval + Timer1Interval) % Timer1Interval) / Timer1Interval;
    // Armed first, so that a tick that stops the timer (unload, the end of
    // the program) leaves it stopped.
    armTimer1(now);
    // Early for its second (a clock set back, a timer ahead of the wall
    // clock), or while a tick is still running: only the re-alignment.
    if (second == mLastTickSecond || mInTick)
        return;
    mLastTickSecond = second;
    Timer1_Timer();
}

void Form2::Timer2_Timer()
{
    if (Forms::ending())
        return;
    ErrorTrap trap = makeTrap("Timer2_Timer");
    trap(100, [] { KeepAwake::instance().pressRightShift(); });
    trap(102, [] { KeepAwake::instance().releaseRightShift(); });
    trap(104, [] { QCoreApplication::processEvents(); });
    trap(106, [] { KeepAwake::instance().resetIdleTimer(); });
}

void Form2::showDisplay(QScreen *on)
{
    if (!isVisible()) {
        WindowHints::skipTaskbar(this);
        // The whole monitor, panels included: a maximised window stops at
        // the desktop's panels, a full-screen one covers them.
        if (on)
            setScreen(on);
        if (const QScreen *screen = this->screen())
            setGeometry(screen->geometry());
    }
    setWindowState((windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized))
                   | Qt::WindowFullScreen);
    show();
    raise();
    activateWindow();
}

bool Form2::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return Form::event(event);
}

void Form2::keyPressEvent(QKeyEvent *event)
{
    Form_KeyDown(keyCode(event));
    event->accept();
}

void Form2::mouseMoveEvent(QMouseEvent *event)
{
    Form_MouseMove();
    Form::mouseMoveEvent(event);
}

void Form2::resizeEvent(QResizeEvent *event)
{
    Form::resizeEvent(event);
    runUntrapped("Form2.Form_Resize", [&] { Form_Resize(); });
    placeNotice();
}

void Form2::showEvent(QShowEvent *event)
{
    Form::showEvent(event);
    // Every start of the display is laid out for the style and quote it just
    // loaded, also when the window keeps its size and no resize comes.
    if (!event->spontaneous())
        runUntrapped("Form2.Form_Resize", [&] { Form_Resize(); });
}
