#pragma once

// The Windows calls behind the keep-awake tick, free of Qt so that they can be
// compiled on their own.

#include <cstdint>

namespace Win32KeepAwake {

// MapVirtualKeyA(VK_RSHIFT, MAPVK_VK_TO_VSC): the scan code of the right Shift
// key, unchecked; the caller takes it as a byte.
std::uint32_t rightShiftScanCode();

// keybd_event(VK_RSHIFT, scanCode, 0 or KEYEVENTF_KEYUP, 0).
void sendRightShift(std::uint8_t scanCode, bool release);

// SetThreadExecutionState(ES_SYSTEM_REQUIRED): resets the system idle timer
// once. ES_CONTINUOUS is not set, so no state stays behind; the result (the
// previous state) is of no use here.
void requireSystemOnce();

} // namespace Win32KeepAwake
