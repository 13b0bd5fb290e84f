#pragma once

#include <cstdint>
#include <string>

#include "platform/SystemFacts.h"

namespace orv {

// The folders and system facts that the whole program reads, worked out once at start-up.
struct ProcessFolders
{
    std::int32_t OsMajorVersion = 7; // 7 when the system does not say
    std::string ApplicationFolder; // the executable's folder, without a trailing separator
    bool ProgramFilesIsX86 = false; // the programs folder is the one for 32-bit programs
    std::string RestoreFolder; // the default: the desktop folder and "Restored Files"
    std::string TempFolder; // always ends with a separator
};

ProcessFolders LocateFolders(SystemFacts& facts);

} // namespace orv
