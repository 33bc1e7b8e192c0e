#include "quote/curlfetcher.h"

#include "app/runtimeerror.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace Quote {

namespace {

struct Transfer
{
    QByteArray body;
    qsizetype limit = 0;
    bool overflowed = false;
};

// A reply that grows past the limit ends the transfer: returning a short
// count makes libcurl stop with CURLE_WRITE_ERROR. This also bounds chunked
// and close-delimited bodies, which CURLOPT_MAXFILESIZE cannot check.
size_t receive(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    const size_t bytes = size * count;
    if (bytes > size_t(transfer->limit - transfer->body.size())) {
        transfer->overflowed = true;
        return 0;
    }
    transfer->body.append(data, qsizetype(bytes));
    return bytes;
}

template<typename Value>
void setOption(CURL *handle, CURLoption option, Value value)
{
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK)
        throw RuntimeError(QString::fromUtf8(curl_easy_strerror(code)));
}

QString tooLargeText(qsizetype limit)
{
    const qsizetype mebibyte = qsizetype(1) << 20;
    const QString size = limit % mebibyte == 0 ? QStringLiteral("%1 MiB").arg(limit / mebibyte)
                                               : QStringLiteral("%1 bytes").arg(limit);
    return QStringLiteral("The quote service sent more than %1; the reply was refused.").arg(size);
}

} // namespace

CurlFetcher::CurlFetcher(std::chrono::milliseconds timeLimit, qsizetype bodyLimit)
    : mTimeLimit(timeLimit), mBodyLimit(bodyLimit)
{ }

QByteArray CurlFetcher::get(const QString &url)
{
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    mContentType.clear();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     &curl_easy_cleanup);
    if (!handle)
        throw RuntimeError(QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT)));

    const QByteArray address = url.toUtf8();
    Transfer transfer;
    transfer.limit = mBodyLimit;
    char errors[CURL_ERROR_SIZE] = {};
    CURL *curl = handle.get();
    setOption(curl, CURLOPT_ERRORBUFFER, errors);
    setOption(curl, CURLOPT_URL, address.constData());
    setOption(curl, CURLOPT_HTTPGET, 1L);
    setOption(curl, CURLOPT_NOSIGNAL, 1L);
    setOption(curl, CURLOPT_TIMEOUT_MS, long(mTimeLimit.count()));
    // The program reads no environment variables, so no proxy from http_proxy.
    setOption(curl, CURLOPT_PROXY, "");
    setOption(curl, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(curl, CURLOPT_MAXREDIRS, 3L);
#if LIBCURL_VERSION_NUM >= 0x075500
    setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    setOption(curl, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    setOption(curl, CURLOPT_REDIR_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    // Refuses an announced oversize body before it arrives.
    setOption(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(mBodyLimit));
    setOption(curl, CURLOPT_WRITEFUNCTION, &receive);
    setOption(curl, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = curl_easy_perform(curl);
    if (transfer.overflowed || code == CURLE_FILESIZE_EXCEEDED)
        throw RuntimeError(tooLargeText(mBodyLimit));
    if (code != CURLE_OK) {
        throw RuntimeError(errors[0] != '\0' ? QString::fromUtf8(errors)
                                             : QString::fromUtf8(curl_easy_strerror(code)));
    }
    const char *contentType = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        mContentType = contentType;
    return transfer.body;
}

} // namespace Quote
