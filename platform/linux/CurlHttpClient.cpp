#include "platform/linux/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace orv {

namespace {

constexpr long kMaxRedirects = 10;

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

long milliseconds(std::chrono::milliseconds limit)
{
    // Zero would mean "no limit" to libcurl; a limit is always wanted here.
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(limit.count(), 1));
}

struct EasyCleanup
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

} // namespace

std::optional<int> CurlHttpClient::get(const std::string& url, const HttpGetOptions& options)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    const std::unique_ptr<CURL, EasyCleanup> handle(curl_easy_init());
    if (!handle)
        return std::nullopt;
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(options.connectTimeout));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, milliseconds(options.totalTimeout));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // no SIGALRM for the name look-up's time limit
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discardBody);

    if (curl_easy_perform(h) != CURLE_OK)
        return std::nullopt;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return static_cast<int>(status);
}

} // namespace orv
