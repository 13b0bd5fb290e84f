#include "results/ProgramPaths.h"

#include <cstdlib>

namespace orv {

namespace {

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return out;
}

} // namespace

std::string expandEnvironmentReferences(std::string_view text)
{
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto open = text.find('%', i);
        const auto close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const std::string name(text.substr(open + 1, close - open - 1));
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value) {
            out += value;
            i = close + 1;
        } else {
            out += '%';
            i = open + 1; // the closing % may open the next reference
        }
    }
    return out;
}

std::string ExpandProgramPaths(std::string_view path, bool programFilesIsX86,
                               const std::function<std::string(std::string_view)>& expand)
{
    if (programFilesIsX86) {
        static constexpr std::pair<std::string_view, std::string_view> kFolders[] = {
            {"%PROGRAMFILES%\\", "C:\\Program Files\\"},
            {"%PROGRAMFILES(X86)%\\", "C:\\Program Files (x86)\\"},
            {"%PROGRAMW6432%\\", "C:\\Program Files\\"},
            {"%COMMONPROGRAMFILES%\\", "C:\\Program Files\\Common Files\\"},
            {"%COMMONPROGRAMFILES(X86)%\\", "C:\\Program Files (x86)\\Common Files\\"},
            {"%COMMONPROGRAMW6432%\\", "C:\\Program Files\\Common Files\\"},
        };
        const std::string upperPath = upper(path);
        for (const auto& [reference, folder] : kFolders) {
            if (upperPath.find(reference) == std::string::npos)
                continue;
            std::string out;
            std::size_t i = 0;
            for (std::size_t at; (at = upperPath.find(reference, i)) != std::string::npos; i = at + reference.size()) {
                out.append(path.substr(i, at - i));
                out.append(folder);
            }
            out.append(path.substr(i));
            return out;
        }
    }
    return expand(path);
}

std::string ExtractProgramPath(std::string_view command, bool programFilesIsX86,
                               const std::function<std::string(std::string_view)>& expand)
{
    // Positions below are those of the text as it is at each step; "keep n" keeps the first n
    // characters.
    while (!command.empty() && static_cast<unsigned char>(command.front()) <= 0x20)
        command.remove_prefix(1);
    while (!command.empty() && static_cast<unsigned char>(command.back()) <= 0x20)
        command.remove_suffix(1);
    if (command.empty())
        return {};
    std::string s(command);
    if (s.find('%') != std::string::npos)
        s = ExpandProgramPaths(s, programFilesIsX86, expand);
    std::erase(s, '"');

    // Start at the drive letter of the first path.
    if (const auto drive = s.find(":\\"); drive != std::string::npos && drive + 1 > 2)
        s.erase(0, drive - 1);
    // Drop a second path and what follows, keeping the character before its drive letter.
    if (const auto second = s.find(":\\", 2); second != std::string::npos && second - 1 > 2)
        s.resize(second - 1);
    for (const std::string_view extension : {".EXE", ".DLL", ".BAT", ".CMD", ".CPL", ".APL", ".BPL", ".OCX"})
        if (const auto at = upper(s).find(extension); at != std::string::npos)
            s.resize(at + 4);
    if (upper(s).rfind("START ", 0) == 0)
        s.erase(0, 6);
    if (const auto bar = s.find("|,"); bar != std::string::npos)
        s.resize(bar);
    if (const auto comma = s.find(','); comma != std::string::npos) {
        const std::size_t r = comma + 1;
        const auto colon = s.find(':');
        if (colon != std::string::npos && r < colon + 1)
            s.erase(0, r);
        const auto dot = s.rfind('.');
        const std::size_t d = dot == std::string::npos ? 0 : dot + 1;
        if (d < r)
            s.resize(std::min(s.size(), d + 3));
    }
    return s;
}

} // namespace orv
