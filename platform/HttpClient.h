#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace orv {

struct HttpGetOptions
{
    std::string userAgent;
    bool followRedirects = true;
    // Both limits are always finite: the request runs on the window's thread.
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds totalTimeout{5000};
};

// One GET whose answer is read and thrown away.
class HttpClient
{
public:
    virtual ~HttpClient() = default;

    // The status code of the last answer (after any redirects), or nothing when no answer came:
    // the name did not resolve, the connection was refused, a limit ran out, the URL was bad.
    virtual std::optional<int> get(const std::string& url, const HttpGetOptions& options) = 0;
};

} // namespace orv
