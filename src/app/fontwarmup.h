#pragma once

#include <thread>

// Reads the system's font configuration on a second core while the main
// thread connects to the display. The first window with text needs it, and
// reading it (fontconfig parsing some sixty XML files) is the largest single
// piece of start-up; Qt then finds it already loaded. Without fontconfig,
// or when no thread can be started, this does nothing.
class FontWarmUp
{
public:
    FontWarmUp();
    ~FontWarmUp();

    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

    // Waits until the configuration is loaded; call before the first widget
    // so that Qt does not load it a second time alongside.
    void wait();

private:
    std::thread mThread;
};
