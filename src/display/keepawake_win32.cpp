#include "display/keepawake_win32.h"

#include <windows.h>

static_assert(VK_RSHIFT == 0xA1);
static_assert(KEYEVENTF_KEYUP == 0x0002);
static_assert(MAPVK_VK_TO_VSC == 0);
static_assert(ES_SYSTEM_REQUIRED == 1);

namespace Win32KeepAwake {

std::uint32_t rightShiftScanCode()
{
    return MapVirtualKeyA(VK_RSHIFT, MAPVK_VK_TO_VSC);
}

void sendRightShift(std::uint8_t scanCode, bool release)
{
    keybd_event(VK_RSHIFT, scanCode, release ? KEYEVENTF_KEYUP : 0, 0);
}

void requireSystemOnce()
{
    static_cast<void>(SetThreadExecutionState(ES_SYSTEM_REQUIRED));
}

} // namespace Win32KeepAwake
