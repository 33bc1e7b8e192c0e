#pragma once

#include "quote/quote.h"

#include <chrono>

namespace Quote {

// One blocking HTTP GET per call through QtNetwork. The request runs on a
// thread of its own, with that thread's event loop, while the calling thread
// waits for it without running any of its own events: the caller is held as
// by any blocking call, and no handler of its windows runs in between. The
// time limit covers the whole request. A body larger than the body limit, an
// HTTP status other than 2xx and every network failure fail the fetch.
class NetworkFetcher final : public Fetcher
{
public:
    static constexpr qsizetype DefaultBodyLimit = 64 * 1024;

    explicit NetworkFetcher(std::chrono::milliseconds timeLimit = std::chrono::seconds(60),
                            qsizetype bodyLimit = DefaultBodyLimit);

    QByteArray get(const QString &url) override;
    QByteArray contentType() const override { return mContentType; }

private:
    std::chrono::milliseconds mTimeLimit;
    qsizetype mBodyLimit;
    QByteArray mContentType;
};

} // namespace Quote
