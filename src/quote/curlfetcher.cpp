#include "quote/curlfetcher.h"

#include "app/runtimeerror.h"

#include <curl/curl.h>
#include <dlfcn.h>

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

// libcurl is loaded for each fetch and unloaded after it. With it come some
// two dozen libraries (GnuTLS, Kerberos, LDAP, libssh2 with OpenSSL's
// libcrypto...): about 4 MiB of memory that a display fetching once every
// ten minutes would otherwise hold all the time, and loading and relocation
// work that would slow down every start of the options window, which never
// fetches. Loading them again costs a few milliseconds per fetch.
class CurlLibrary
{
public:
    CurlLibrary()
    {
        mHandle = dlopen(TALLOW_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!mHandle)
            throw RuntimeError(QString::fromLocal8Bit(dlerror()));
        try {
            resolve("curl_global_init", globalInit);
            resolve("curl_global_cleanup", globalCleanup);
            resolve("curl_easy_init", easyInit);
            resolve("curl_easy_setopt", easySetopt);
            resolve("curl_easy_perform", easyPerform);
            resolve("curl_easy_cleanup", easyCleanup);
            resolve("curl_easy_strerror", easyStrerror);
            resolve("curl_easy_getinfo", easyGetinfo);
            startSsh2WithoutCrypto();
            const CURLcode code = globalInit(CURL_GLOBAL_DEFAULT);
            if (code != CURLE_OK)
                throw RuntimeError(QString::fromUtf8(easyStrerror(code)));
        } catch (...) {
            unload();
            throw;
        }
        mStarted = true;
    }

    ~CurlLibrary()
    {
        if (mStarted)
            globalCleanup();
        unload();
    }

    CurlLibrary(const CurlLibrary &) = delete;
    CurlLibrary &operator=(const CurlLibrary &) = delete;

    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_global_cleanup) globalCleanup = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;

private:
    template<typename Function>
    void resolve(const char *name, Function &function)
    {
        function = reinterpret_cast<Function>(dlsym(mHandle, name));
        if (!function)
            throw RuntimeError(QStringLiteral("%1 lacks %2").arg(TALLOW_CURL_LIBRARY, name));
    }

    // libcurl's global start-up runs libssh2's, which initialises OpenSSL's
    // libcrypto (about 1.6 MiB of memory touched) for SSH transfers that this
    // program never makes: it allows http and https only. libssh2 counts its
    // start-ups, so starting it first without crypto makes libcurl's own call
    // a no-op. A libcurl built without libssh2 has no such symbol to call.
    void startSsh2WithoutCrypto()
    {
        constexpr int NoCrypto = 0x0001; // LIBSSH2_INIT_NO_CRYPTO
        using Ssh2Init = int (*)(int);
        const auto init = reinterpret_cast<Ssh2Init>(dlsym(mHandle, "libssh2_init"));
        mSsh2Exit = reinterpret_cast<void (*)()>(dlsym(mHandle, "libssh2_exit"));
        if (init && mSsh2Exit && init(NoCrypto) == 0)
            mSsh2Started = true;
    }

    void unload()
    {
        if (mSsh2Started)
            mSsh2Exit();
        dlclose(mHandle);
    }

    void *mHandle = nullptr;
    void (*mSsh2Exit)() = nullptr;
    bool mSsh2Started = false;
    bool mStarted = false;
};

template<typename Value>
void setOption(const CurlLibrary &curl, CURL *handle, CURLoption option, Value value)
{
    const CURLcode code = curl.easySetopt(handle, option, value);
    if (code != CURLE_OK)
        throw RuntimeError(QString::fromUtf8(curl.easyStrerror(code)));
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
    // libcurl's global start-up and clean-up are not thread-safe: one fetch
    // at a time loads, uses and unloads it.
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    const CurlLibrary lib;
    mContentType.clear();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(lib.easyInit(),
                                                                     lib.easyCleanup);
    if (!handle)
        throw RuntimeError(QString::fromUtf8(lib.easyStrerror(CURLE_FAILED_INIT)));

    const QByteArray address = url.toUtf8();
    Transfer transfer;
    transfer.limit = mBodyLimit;
    char errors[CURL_ERROR_SIZE] = {};
    CURL *curl = handle.get();
    setOption(lib, curl, CURLOPT_ERRORBUFFER, errors);
    setOption(lib, curl, CURLOPT_URL, address.constData());
    setOption(lib, curl, CURLOPT_HTTPGET, 1L);
    setOption(lib, curl, CURLOPT_NOSIGNAL, 1L);
    setOption(lib, curl, CURLOPT_TIMEOUT_MS, long(mTimeLimit.count()));
    // The program reads no environment variables, so no proxy from http_proxy.
    setOption(lib, curl, CURLOPT_PROXY, "");
    setOption(lib, curl, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(lib, curl, CURLOPT_MAXREDIRS, 3L);
#if LIBCURL_VERSION_NUM >= 0x075500
    setOption(lib, curl, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(lib, curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    setOption(lib, curl, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    setOption(lib, curl, CURLOPT_REDIR_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    // Refuses an announced oversize body before it arrives.
    setOption(lib, curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(mBodyLimit));
    setOption(lib, curl, CURLOPT_WRITEFUNCTION, &receive);
    setOption(lib, curl, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = lib.easyPerform(curl);
    if (transfer.overflowed || code == CURLE_FILESIZE_EXCEEDED)
        throw RuntimeError(tooLargeText(mBodyLimit));
    if (code != CURLE_OK) {
        throw RuntimeError(errors[0] != '\0' ? QString::fromUtf8(errors)
                                             : QString::fromUtf8(lib.easyStrerror(code)));
    }
    const char *contentType = nullptr;
    if (lib.easyGetinfo(curl, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        mContentType = contentType;
    return transfer.body;
}

} // namespace Quote
