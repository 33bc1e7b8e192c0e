#pragma once

// The unattended wall screen (--kiosk).
namespace Kiosk {

// How long a message box stays open on the wall screen.
constexpr int BoxCloseMilliseconds = 30000;

// Lets every message box close by itself after BoxCloseMilliseconds, as if OK
// were pressed, makes the display unattended (its own failures are said on
// the screen and on standard error, never in a box), and, once the event loop
// runs, opens the display with the stored symbol as its button in the options
// window would. With no symbol stored the button does nothing and the options
// window stays.
void start();

} // namespace Kiosk
