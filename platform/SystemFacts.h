#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace orv {

// The few facts about the running system that the program's start-up and its statistics
// request need.
class SystemFacts
{
public:
    virtual ~SystemFacts() = default;

    // The major version of the system in the terms of the Windows versions the program's rules
    // name (6 = Vista to 8.1); nothing when it cannot be read.
    virtual std::optional<std::int32_t> osMajorVersion() = 0;

    // Full path of the running executable; empty when it cannot be found.
    virtual std::string executablePath() = 0;

    // The folder that programs are installed into; empty where the system has no such folder.
    virtual std::string programFilesFolder() = 0;

    // The user's desktop folder; empty when it cannot be found.
    virtual std::string desktopFolder() = 0;

    // The user's temporary folder, never empty.
    virtual std::string temporaryFolder() = 0;

    // Whether the computer looks connected to a network that leads beyond it.
    virtual bool isInternetConnected() = 0;

    // The locale the user reads messages in, as POSIX names it: LC_ALL, then LC_MESSAGES, then
    // LANG, the first that is set and not empty; empty when none is.
    virtual std::string messagesLocale()
    {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
            if (const char* value = std::getenv(name); value && *value)
                return value;
        return {};
    }
};

} // namespace orv
