// The one HTTP request tallow-quoted makes: a provider's quote, over libcurl.
#pragma once

#include "providers.h"

#include <cstddef>
#include <string>

namespace quoted {

// One provider request: HTTPS with certificate verification, at most
// `timeoutMs`, replies over kMaxProviderReply refused. A Retry-After given as
// an HTTP date comes back in seconds from now.
constexpr std::size_t kMaxProviderReply = 1 << 20;
ProviderReply fetchOverHttp(const std::string &url, long timeoutMs);

} // namespace quoted
