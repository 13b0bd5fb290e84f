#include "platform/linux/LinuxSystemFacts.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "base/Trim.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kRouteUp = 0x0001; // RTF_UP
constexpr unsigned long kRouteReject = 0x0200; // RTF_REJECT: the kernel's "unreachable" default

std::vector<std::string> fields(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string field; in >> field;)
        out.push_back(field);
    return out;
}

std::optional<unsigned long> hexNumber(const std::string& text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

bool allZeros(const std::string& text)
{
    return !text.empty() && text.find_first_not_of('0') == std::string::npos;
}

bool hasIpv4DefaultRoute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line); // the column titles
    while (std::getline(in, line)) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        const auto f = fields(line);
        if (f.size() < 8 || f[0] == "lo" || !allZeros(f[1]) || !allZeros(f[7]))
            continue;
        const auto flags = hexNumber(f[3]);
        if (flags && (*flags & kRouteUp) && !(*flags & kRouteReject))
            return true;
    }
    return false;
}

bool hasIpv6DefaultRoute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        // destination prefix-length source prefix-length next-hop metric refcnt use flags device
        const auto f = fields(line);
        if (f.size() < 10 || f[9] == "lo" || !allZeros(f[0]) || !allZeros(f[1]))
            continue;
        const auto flags = hexNumber(f[8]);
        if (flags && (*flags & kRouteUp) && !(*flags & kRouteReject))
            return true;
    }
    return false;
}

// XDG_DESKTOP_DIR="$HOME/Desktop" from the user's user-dirs.dirs, the file that xdg-user-dir
// itself reads; only the two forms that file may hold ("$HOME/..." and an absolute path).
std::string desktopFromUserDirs(const fs::path& file, const std::string& home)
{
    std::ifstream in(file);
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        std::string_view text = trimControls(line);
        constexpr std::string_view kName = "XDG_DESKTOP_DIR=";
        if (!text.starts_with(kName))
            continue;
        text.remove_prefix(kName.size());
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        if (text == "$HOME" || text.starts_with("$HOME/"))
            found = home + std::string(text.substr(5));
        else if (text.starts_with("/"))
            found = std::string(text);
    }
    return found;
}

} // namespace

std::string cleanFolderVariable(std::string_view value, const EnvironmentLookup& environment)
{
    const std::string_view text = trimControls(value);
    std::string expanded;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        const std::size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) {
            expanded += text.substr(pos);
            break;
        }
        expanded += text.substr(pos, open - pos);
        const std::string name(text.substr(open + 1, close - open - 1));
        const auto replacement = name.empty() ? std::nullopt : environment(name);
        if (replacement) {
            expanded += *replacement;
            pos = close + 1;
        } else {
            // Not a reference we know: the first "%" stays and may open the next one.
            expanded += '%';
            pos = open + 1;
        }
    }
    std::string cleaned;
    for (const char c : expanded)
        if (c != '"')
            cleaned += c;
    return cleaned;
}

bool hasDefaultRoute(const fs::path& ipv4Routes, const fs::path& ipv6Routes)
{
    return hasIpv4DefaultRoute(ipv4Routes) || hasIpv6DefaultRoute(ipv6Routes);
}

LinuxSystemFacts::LinuxSystemFacts(LinuxSystemSources sources) : m_sources(std::move(sources)) {}

std::optional<std::int32_t> LinuxSystemFacts::osMajorVersion()
{
    // The version rules were written for Windows: Vista to 8.1 (6) ask for administrative rights
    // in another way and cannot wipe. This system has neither limit, like a current Windows.
    return 10;
}

std::string LinuxSystemFacts::executablePath()
{
    std::error_code error;
    const fs::path path = fs::read_symlink(m_sources.executableLink, error);
    return error ? std::string() : path.string();
}

std::string LinuxSystemFacts::programFilesFolder()
{
    return {};
}

std::string LinuxSystemFacts::desktopFolder()
{
    if (const auto desktop = m_sources.environment("XDG_DESKTOP_DIR"); desktop && desktop->starts_with("/"))
        return *desktop;
    const std::string home = userHomeFolder(m_sources.environment);
    if (const fs::path config = userConfigFolder(m_sources.environment); !config.empty())
        if (std::string desktop = desktopFromUserDirs(config / "user-dirs.dirs", home); !desktop.empty())
            return desktop;
    return home.empty() ? std::string() : (fs::path(home) / "Desktop").string();
}

std::string LinuxSystemFacts::temporaryFolder()
{
    for (const char* name : {"TEMP", "TMP", "TMPDIR"}) {
        if (const auto value = m_sources.environment(name)) {
            std::string folder = cleanFolderVariable(*value, m_sources.environment);
            if (!folder.empty())
                return folder;
        }
    }
    return "/tmp";
}

bool LinuxSystemFacts::isInternetConnected()
{
    return hasDefaultRoute(m_sources.ipv4Routes, m_sources.ipv6Routes);
}

} // namespace orv
