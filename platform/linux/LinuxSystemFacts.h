#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/ConfigFolder.h"
#include "platform/SystemFacts.h"

namespace orv {

// Where the facts of this machine come from. The defaults are the real ones; tests give their
// own environment and files.
struct LinuxSystemSources
{
    EnvironmentLookup environment = processEnvironment;
    std::filesystem::path executableLink = "/proc/self/exe";
    std::filesystem::path ipv4Routes = "/proc/net/route";
    std::filesystem::path ipv6Routes = "/proc/net/ipv6_route";
};

// Linux answers to the program's questions: a system that behaves as a current Windows (major
// version 10), no separate folder for 32-bit programs, the XDG desktop folder, the temporary
// folder from TEMP, TMP or TMPDIR (else /tmp), and "online" when a default route exists.
class LinuxSystemFacts final : public SystemFacts
{
public:
    explicit LinuxSystemFacts(LinuxSystemSources sources = {});

    std::optional<std::int32_t> osMajorVersion() override;
    std::string executablePath() override;
    std::string programFilesFolder() override;
    std::string desktopFolder() override;
    std::string temporaryFolder() override;
    bool isInternetConnected() override;

private:
    LinuxSystemSources m_sources;
};

// A folder named by an environment variable as the program takes it: blanks and control
// characters trimmed, %NAME% references expanded (an unknown one stays as written), double
// quotes removed. Nothing else is cut: on this system a folder name may hold a comma or ".bat".
std::string cleanFolderVariable(std::string_view value, const EnvironmentLookup& environment);

// True when one of the routing tables holds a default route that is up and leads somewhere other
// than the loopback device (IPv4 in the /proc/net/route layout, IPv6 in /proc/net/ipv6_route's).
bool hasDefaultRoute(const std::filesystem::path& ipv4Routes, const std::filesystem::path& ipv6Routes);

} // namespace orv
