#include "display/keepawake.h"

#include "app/conversions.h"
#include "app/runtimeerror.h"

KeepAwake &KeepAwake::instance()
{
    return sInstalled ? *sInstalled : production();
}

std::uint8_t rightShiftKeyCode(std::int64_t lookedUp)
{
    if (lookedUp == 0)
        throw RuntimeError(QStringLiteral("The keyboard has no right Shift key"));
    return Convert::toByte(lookedUp);
}
