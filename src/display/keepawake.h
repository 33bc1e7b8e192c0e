#pragma once

#include "app/scopedoverride.h"

#include <cstdint>

// One press and release of the right Shift key as user input, and a reset of
// the system idle timer, without any lasting request.
class KeepAwake
{
public:
    virtual ~KeepAwake() = default;
    virtual void pressRightShift() = 0; // throws RuntimeError on failure
    virtual void releaseRightShift() = 0; // throws RuntimeError on failure
    virtual void resetIdleTimer() = 0; // throws RuntimeError when the platform genuinely refuses

    // The installed implementation; production is the platform's, chosen at
    // build and run time: each platform's source file defines production().
    static KeepAwake &instance();
    static KeepAwake &production();

private:
    friend class ScopedOverride<KeepAwake>;
    static inline KeepAwake *sInstalled = nullptr;
};

// The key code of the right Shift key, as looked up on the keyboard at hand,
// taken as the byte a key event carries. A code that does not fit in a byte
// fails with "Overflow"; 0 means the keyboard has no such key and fails too,
// so that no key event is sent with a code no key has.
std::uint8_t rightShiftKeyCode(std::int64_t lookedUp);
