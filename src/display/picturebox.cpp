#include "display/picturebox.h"

#include "app/colors.h"
#include "app/twips.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget *parent) : QWidget(parent)
{
    // paintEvent fills its own background from the back colour.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setForeColor(std::uint32_t color)
{
    mForeColor = color;
    update();
}

void PictureBox::setBackColor(std::uint32_t color)
{
    mBackColor = color;
    update();
}

void PictureBox::setTwipsGeometry(float left, float top, float width, float height)
{
    mLeft = left;
    mTop = top;
    mWidth = width;
    mHeight = height;
    setGeometry(twips(left), twips(top), qMax(0, twips(width)), qMax(0, twips(height)));
}

double PictureBox::textWidth(const QString &text) const
{
    return QFontMetricsF(font()).horizontalAdvance(text) * TwipsPerPixel;
}

double PictureBox::textHeight() const
{
    // Whole pixels per line, the same advance a MeasuringLabel counts.
    return QFontMetrics(font()).lineSpacing() * TwipsPerPixel;
}

void PictureBox::cls()
{
    mItems.clear();
    mCurrentX = 0;
    mCurrentY = 0;
    pushChanges();
}

void PictureBox::print(const QString &text)
{
    mItems.append({text, mCurrentX, mCurrentY});
    mCurrentX = 0;
    mCurrentY += textHeight();
    pushChanges();
}

QRect PictureBox::itemRect(const Printed &item) const
{
    const QFontMetricsF metrics(font());
    const QRectF rect(item.x / TwipsPerPixel, item.y / TwipsPerPixel,
                      metrics.horizontalAdvance(item.text), metrics.lineSpacing());
    // Italic overhang and anti-aliasing reach a little past the advance.
    return rect.toAlignedRect().adjusted(-2, 0, int(metrics.height() / 3) + 2, 1);
}

void PictureBox::pushChanges()
{
    // A clear followed by the same lines, as each tick does, changes only the
    // lines whose text moved or differs; work that out once the tick lets
    // events run, when the new list is complete.
    if (mPushPending)
        return;
    mPushPending = true;
    QMetaObject::invokeMethod(
            this,
            [this] {
                mPushPending = false;
                const qsizetype count = qMax(mItems.size(), mOnScreen.size());
                for (qsizetype i = 0; i < count; ++i) {
                    const bool inNew = i < mItems.size();
                    const bool inOld = i < mOnScreen.size();
                    if (inNew && inOld && mItems[i] == mOnScreen[i])
                        continue;
                    if (inOld)
                        update(itemRect(mOnScreen[i]));
                    if (inNew)
                        update(itemRect(mItems[i]));
                }
                mOnScreen = mItems;
            },
            Qt::QueuedConnection);
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Colors::toQColor(mBackColor));
    painter.setFont(font());
    painter.setPen(Colors::toQColor(mForeColor));
    const QFontMetricsF metrics(font());
    for (const Printed &item : std::as_const(mItems)) {
        if (!event->region().intersects(itemRect(item)))
            continue;
        painter.drawText(QPointF(item.x / TwipsPerPixel, item.y / TwipsPerPixel + metrics.ascent()),
                         item.text);
    }
}

void PictureBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}
