#include "display/keepawake.h"

#include "app/conversions.h"
#include "display/keepawake_win32.h"

namespace {

// The scan code is looked up again for each key event and must fit a byte;
// when it does not, the step fails before any event is sent. A scan code of 0
// is passed on: Windows identifies the key by its virtual-key code.
class WindowsKeepAwake : public KeepAwake
{
public:
    void pressRightShift() override { sendRightShift(false); }
    void releaseRightShift() override { sendRightShift(true); }
    void resetIdleTimer() override { Win32KeepAwake::requireSystemOnce(); }

private:
    static void sendRightShift(bool release)
    {
        Win32KeepAwake::sendRightShift(Convert::toByte(Win32KeepAwake::rightShiftScanCode()),
                                       release);
    }
};

} // namespace

KeepAwake &KeepAwake::production()
{
    static WindowsKeepAwake windows;
    return windows;
}
