#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// Property checks of the service's fuzz targets (no Qt there): a broken
// property is printed and aborts, which the fuzzer records as a finding
// together with the input.
namespace FuzzCheck {

[[noreturn]] inline void fail(const char *property, std::string_view detail)
{
    std::fprintf(stderr, "==fuzz== property broken: %s\n==fuzz== %.*s\n", property,
                 int(detail.size()), detail.data());
    std::abort();
}

} // namespace FuzzCheck

#define CHECK(condition, detail)                                                                   \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzCheck::fail(#condition, detail);                                                   \
    } while (false)
