#include "display/measuringlabel.h"

#include "app/appshell.h"
#include "app/runtimeerror.h"
#include "app/twips.h"

#include <QEvent>
#include <QFontMetricsF>

#include <cmath>

MeasuringLabel::MeasuringLabel(QWidget *parent) : QWidget(parent)
{
    autoSize();
}

void MeasuringLabel::setCaption(const QString &caption)
{
    mCaption = caption;
    autoSize();
}

void MeasuringLabel::setAlignment(int alignment)
{
    if (alignment < LeftJustify || alignment > Center)
        throw RuntimeError(Errors::InvalidPropertyValue);
    mAlignment = alignment;
}

void MeasuringLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        autoSize();
    QWidget::changeEvent(event);
}

void MeasuringLabel::autoSize()
{
    const QFontMetricsF metrics(font());
    const QStringList lines = mCaption.split(AppShell::CrLf);
    double widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // Whole pixels, as a window-system label measures itself.
    mWidth = static_cast<float>(std::ceil(widest) * TwipsPerPixel);
    mHeight = static_cast<float>(QFontMetrics(font()).lineSpacing() * lines.size() * TwipsPerPixel);
}
