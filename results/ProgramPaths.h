#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orv {

// Replaces %NAME% references with the environment's values; unknown names stay as they are.
std::string expandEnvironmentReferences(std::string_view text);

// Expands program-files references. A 32-bit program on 64-bit Windows (programFilesIsX86) names
// the folders a 64-bit program sees itself, for the first kind of reference found; otherwise, and
// when none is found, `expand` (the environment by default) does it.
std::string
ExpandProgramPaths(std::string_view path, bool programFilesIsX86,
                   const std::function<std::string(std::string_view)>& expand = expandEnvironmentReferences);

// The program file named in a shell command line ("C:\Windows\notepad.exe" %1 gives
// C:\Windows\notepad.exe); empty for an empty command.
std::string
ExtractProgramPath(std::string_view command, bool programFilesIsX86,
                   const std::function<std::string(std::string_view)>& expand = expandEnvironmentReferences);

} // namespace orv
