// What the service's Windows files share beyond platform.h.
#pragma once

#include <string>

namespace quoted {

// UTF-8 as the UTF-16 that the wide Windows calls take.
std::wstring wide(const std::string &text);

} // namespace quoted
