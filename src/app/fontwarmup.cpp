#include "app/fontwarmup.h"

#include <system_error>

#ifdef TALLOW_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

FontWarmUp::FontWarmUp()
{
#ifdef TALLOW_HAVE_FONTCONFIG
    try {
        // FcInit loads the configuration once per process; Qt's own call
        // returns at once when it is there.
        mThread = std::thread([] { FcInit(); });
    } catch (const std::system_error &) {
        // Qt loads the configuration itself when it first needs it.
    }
#endif
}

FontWarmUp::~FontWarmUp()
{
    wait();
}

void FontWarmUp::wait()
{
    if (mThread.joinable())
        mThread.join();
}
