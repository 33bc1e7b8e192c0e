#pragma once

#include "quote/quote.h"

#include <chrono>

namespace Quote {

// One blocking HTTP GET per call through libcurl's easy interface. The time
// limit covers the whole request; a body larger than the body limit fails the
// fetch. An HTTP error status is not a failure: its body is the reply.
class CurlFetcher final : public Fetcher
{
public:
    static constexpr qsizetype DefaultBodyLimit = qsizetype(1) << 20;

    explicit CurlFetcher(std::chrono::milliseconds timeLimit = std::chrono::seconds(60),
                         qsizetype bodyLimit = DefaultBodyLimit);

    QByteArray get(const QString &url) override;
    QByteArray contentType() const override { return mContentType; }

private:
    std::chrono::milliseconds mTimeLimit;
    qsizetype mBodyLimit;
    QByteArray mContentType;
};

} // namespace Quote
