#pragma once

class QWidget;

// Keeps a window out of the taskbar and the pager. Each platform's source file
// implements both calls; a call the platform does not need does nothing.
namespace WindowHints {

// In the constructor, before the native window exists (window flags).
void setUpSkipTaskbar(QWidget *window);

// Before the window is shown from hidden, once its native window exists.
void skipTaskbar(QWidget *window);

} // namespace WindowHints
