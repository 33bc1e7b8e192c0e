#include "display/windowhints.h"

namespace WindowHints {

void setUpSkipTaskbar(QWidget *) { }

void skipTaskbar(QWidget *) { }

} // namespace WindowHints
