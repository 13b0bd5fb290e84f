#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace orv {

// The value of an environment variable, or nothing when it is not set. Tests pass their own.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// This process's environment.
std::optional<std::string> processEnvironment(const std::string& name);

// The user's home folder: $HOME when it is set and not empty, else the user's entry in the
// password database; empty when neither names one.
std::string userHomeFolder(const EnvironmentLookup& environment = processEnvironment);

// The folder of the user's configuration files: $XDG_CONFIG_HOME when it is an absolute path,
// else .config in the home folder. A relative XDG_CONFIG_HOME is ignored, as the XDG base
// directory rules say, so the drive map, the settings and the desktop folder's file are found in
// one folder whatever the current directory is. Empty when no home folder is known.
std::filesystem::path userConfigFolder(const EnvironmentLookup& environment = processEnvironment);

} // namespace orv
