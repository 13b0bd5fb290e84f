#include "shell/ProcessFolders.h"

#include <algorithm>
#include <filesystem>

namespace orv {

namespace {

constexpr char kSeparator = std::filesystem::path::preferred_separator;
constexpr std::string_view kRestoredFiles = "Restored Files";

std::string withSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != kSeparator)
        folder += kSeparator;
    return folder;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

} // namespace

ProcessFolders LocateFolders(SystemFacts& facts)
{
    ProcessFolders folders;
    if (const auto version = facts.osMajorVersion())
        folders.OsMajorVersion = *version;

    std::string application = std::filesystem::path(facts.executablePath()).parent_path().string();
    while (!application.empty() && application.back() == kSeparator)
        application.pop_back();
    folders.ApplicationFolder = application;

    const std::string programFiles = facts.programFilesFolder();
    folders.ProgramFilesIsX86 =
        !programFiles.empty() && upper(withSeparator(programFiles)).find("(X86)") != std::string::npos;

    folders.TempFolder = withSeparator(facts.temporaryFolder());

    // Without a desktop the restored files still need a home the user can write to.
    const std::string desktop = facts.desktopFolder();
    const std::string parent = desktop.empty() ? folders.TempFolder : withSeparator(desktop);
    folders.RestoreFolder = parent + std::string(kRestoredFiles);
    return folders;
}

} // namespace orv
