#include "display/windowhints.h"

#include <QWidget>

namespace WindowHints {

void setUpSkipTaskbar(QWidget *window)
{
    window->setWindowFlag(Qt::Tool); // no taskbar button
}

void skipTaskbar(QWidget *) { }

} // namespace WindowHints
