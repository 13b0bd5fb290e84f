#pragma once

#include <string>
#include <string_view>

#include "platform/HttpClient.h"
#include "platform/SettingsBackend.h"
#include "platform/SystemFacts.h"

namespace orv {

// The limits of the one statistics GET. It runs on the window's thread, so it may never hold the
// window for long, whatever the network does.
inline constexpr std::chrono::milliseconds kStatisticsConnectTimeout{3000};
inline constexpr std::chrono::milliseconds kStatisticsTotalTimeout{5000};
inline constexpr std::string_view kStatisticsUserAgent = "Mozilla/5.0 Indy";

// The address the program reports its installation to. It lies on a reserved domain that never
// resolves, so the request is made but nothing is ever sent anywhere.
std::string InstallStatisticsEndpoint();

// The endpoint with "?partner=", "&build=" and "&compiler=" after it, in that order. The compiler
// text comes from the settings store, so it is percent-encoded: a blank, "&" or "#" in it must
// not change the request's meaning or make the URL invalid.
std::string InstallStatisticsUrl(std::string_view endpoint, std::string_view compilerVersion);

// Every byte outside A-Z, a-z, 0-9 and "-._~" as %XX.
std::string percentEncode(std::string_view text);

bool IsInternetConnected(SystemFacts& facts);

// Tells the statistics endpoint once that the program runs. Offline it does nothing, so the next
// showing of the main window tries again. Online it sends the GET, ignores whatever comes back or
// goes wrong, and then records "InstallStat" = true.
void SendInstallStatistics(SettingsBackend& settings, SystemFacts& facts, HttpClient& http);

// What the main window does each time it is shown while no scan runs: the request, unless
// "InstallStat" already says it was made.
void SendInstallStatisticsIfDue(SettingsBackend& settings, SystemFacts& facts, HttpClient& http);

// The same request to another endpoint; only tests use it, with a server of their own.
void SendInstallStatisticsTo(std::string_view endpoint, SettingsBackend& settings, SystemFacts& facts,
                             HttpClient& http);

} // namespace orv
