#pragma once

#include "platform/HttpClient.h"

namespace orv {

// GET through libcurl: redirects followed (at most 10, and only to http or https), the answer's
// body thrown away as it arrives, both time limits always set.
class CurlHttpClient final : public HttpClient
{
public:
    std::optional<int> get(const std::string& url, const HttpGetOptions& options) override;
};

} // namespace orv
