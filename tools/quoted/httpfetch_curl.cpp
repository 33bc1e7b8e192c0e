#include "httpfetch.h"
#include "protocol.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <string_view>

namespace quoted {

namespace {

size_t takeBody(char *data, size_t size, size_t count, void *user)
{
    auto *body = static_cast<std::string *>(user);
    if (body->size() + size * count > kMaxProviderReply)
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    body->append(data, size * count);
    return size * count;
}

size_t takeHeader(char *data, size_t size, size_t count, void *user)
{
    const std::string_view line(data, size * count);
    constexpr std::string_view name = "RETRY-AFTER:";
    if (line.size() > name.size() && line.size() < 128
        && upperAscii(line.substr(0, name.size())) == name) {
        std::string value(line.substr(name.size()));
        const auto first = value.find_first_not_of(" \t");
        const auto last = value.find_last_not_of(" \t\r\n");
        value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
        // An HTTP date becomes the seconds until then, so readers see one form.
        if (!value.empty() && value.find_first_not_of("0123456789") != std::string::npos) {
            const std::time_t at = curl_getdate(value.c_str(), nullptr);
            value = at > 0 ? std::to_string(std::max<std::int64_t>(1, at - std::time(nullptr)))
                           : std::string();
        }
        static_cast<ProviderReply *>(user)->retryAfter = value;
    }
    return size * count;
}

} // namespace

void startFetching()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

ProviderReply fetchOverHttp(const std::string &url, long timeoutMs)
{
    ProviderReply reply;
    CURL *curl = curl_easy_init();
    if (!curl) {
        reply.failure = "cannot start a request";
        return reply;
    }
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // timeouts without signals: many threads fetch
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, ""); // decoded bytes still count to the limit
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "tallow-quoted");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxProviderReply));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, takeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, takeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    const CURLcode result = curl_easy_perform(curl);
    // Only takeBody() makes a write fail; the size limit also refuses a declared length.
    if (result == CURLE_WRITE_ERROR || result == CURLE_FILESIZE_EXCEEDED)
        reply.failure = "reply over 1 MiB refused";
    else if (result != CURLE_OK)
        reply.failure = error[0] ? error : curl_easy_strerror(result);
    else
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    if (!reply.failure.empty())
        reply.body.clear();
    return reply;
}

} // namespace quoted
