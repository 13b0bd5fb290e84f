#include "base/ConfigFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace orv {

std::optional<std::string> processEnvironment(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::string userHomeFolder(const EnvironmentLookup& environment)
{
    if (const auto home = environment("HOME"); home && !home->empty())
        return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return {};
}

std::filesystem::path userConfigFolder(const EnvironmentLookup& environment)
{
    if (const auto config = environment("XDG_CONFIG_HOME"); config && config->starts_with('/'))
        return *config;
    const std::string home = userHomeFolder(environment);
    return home.empty() ? std::filesystem::path() : std::filesystem::path(home) / ".config";
}

} // namespace orv
