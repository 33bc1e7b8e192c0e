#pragma once

namespace Forms {

// Tells the registry how the options window, the display and the colour
// window are made. The program and the tests call it once before the first
// window is touched.
void registerWindows();

} // namespace Forms
