// The one HTTP request tallow-quoted makes: a provider's quote, over libcurl
// (httpfetch_curl.cpp) or, on Windows, over WinHTTP (httpfetch_winhttp.cpp).
#pragma once

#include "providers.h"

#include <cstddef>
#include <string>

namespace quoted {

// One provider request: HTTPS with certificate verification, at most
// kProviderTimeoutMs, replies over kMaxProviderReply refused. A Retry-After
// given as an HTTP date comes back in seconds from now.
constexpr long kProviderTimeoutMs = 10000;
constexpr std::size_t kMaxProviderReply = 1 << 20;
ProviderReply fetchOverHttp(const std::string &url);

// Sets the HTTP library up; call once, before any thread starts.
void startFetching();

} // namespace quoted
