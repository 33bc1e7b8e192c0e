#pragma once

#include "app/errortrap.h"
#include "app/form.h"

#include <QDateTime>
#include <QMap>

#include <cstdint>

class Form2;
class MeasuringLabel;
class PictureBox;
class QLabel;
class QScreen;
class QTimer;

namespace Forms {
Form2 *form2();
Form2 *loadedForm2();
} // namespace Forms

// The full-screen display: the quote lines and a live clock, refreshed from
// the quote service every 600 ticks. Escape hides it and brings the options
// window back; typing "hide" collapses the hint. Controls carry their names as
// object names.
class Form2 : public Form
{
    Q_OBJECT

public:
    static constexpr int RefreshTicks = 600;
    static constexpr int Timer1Interval = 1000;
    // How long after the full second Timer1 is due: enough that a tick never
    // lands just before the second it is meant to show.
    static constexpr int Timer1Margin = 2;

    explicit Form2(QWidget *parent = nullptr);

    void Form_Load() override;
    void Form_QueryUnload() override;
    void Form_Activate();
    void Form_KeyDown(int keyCode);
    void Form_MouseMove();
    void Form_Resize();

    void ReLoadStyle();
    QString getStockQuote(QString *notice = nullptr);
    void Timer1_Timer();
    void Timer2_Timer();

    // Shows the window borderless and full screen, over the desktop's panels,
    // on the monitor `on` (when given) or the one it was on before.
    void showDisplay(QScreen *on = nullptr);

    // An unattended wall screen (--kiosk): the display's failures go to
    // standard error and to the notice line instead of boxes, a failed fetch
    // keeps the last quote and is retried sooner, and the lines shrink to fit
    // the window. Set before the display is first loaded.
    static void setUnattended(bool unattended) { sUnattended = unattended; }
    static bool unattended() { return sUnattended; }

    // The waits, in ticks, before each retry after consecutive failed fetches
    // of an unattended display; then every RefreshTicks again.
    static constexpr int RetryTicks[] = {30, 60, 120, 240, 480};

    // The one line at the bottom left: what the display says about what it
    // shows (the service's notice, and when unattended its own failures).
    QString noticeText() const;

    // The window's scale, in twips.
    double scaleWidth() const;
    double scaleHeight() const;

    QString mStockSymbol;
    std::int32_t mTickCount = 0;
    bool mHideArmed = false;
    std::int16_t mHideStep = 0;
    QString mQuoteText;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Timer1 is a single-shot timer re-armed at each expiry for just after
    // the next full second of the wall clock, so the clock line changes with
    // the true second. An expiry within the second already shown is a
    // re-alignment, not a tick.
    void armTimer1(qint64 now);
    void showOptionsWindow();
    void Timer1_Expired();

    // A trap of one of this window's operations; unattended, its reports go
    // to standard error and the notice line.
    ErrorTrap makeTrap(const char *operation);
    // Fetches the quote for mQuoteText and takes the result.
    void refreshQuote();
    // The size the drawn lines get: the chosen one, or unattended the largest
    // up to it at which the measured lines fit the window.
    int fittedPointSize() const;
    bool layoutOutdated() const;
    void updateNotice();
    void placeNotice();

    PictureBox *Picture1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer1 = nullptr;
    QLabel *Label1 = nullptr;
    MeasuringLabel *lblData = nullptr;
    QLabel *lblNotice = nullptr;

    static inline bool sUnattended = false;
    int mChosenPointSize = 0;
    int mRefreshDue = RefreshTicks;
    int mFailedFetches = 0;
    QString mQuoteSymbol;
    QDateTime mQuoteTime;
    QString mServiceNotice;
    // Unattended: the failure of the last fetch, kept until one succeeds, and
    // the failures of the other operations, each kept until the operation
    // next runs.
    QString mFetchFault;
    QMap<QString, QString> mFaults;

    std::uint32_t mBackColor = 0;
    bool mInTick = false;
    qint64 mLastTickSecond = -1;
};
