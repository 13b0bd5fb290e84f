#include <gtest/gtest.h>

#include "results/ProgramPaths.h"

namespace orv {
namespace {

// Expands only the references a 64-bit layout knows, so the cases do not depend on this machine.
std::string fakeEnvironment(std::string_view text)
{
    std::string out(text);
    for (const auto& [reference, value] : {std::pair<std::string, std::string>{"%ProgramFiles%", "C:\\Program Files"},
                                           {"%SystemRoot%", "C:\\Windows"}}) {
        for (std::size_t at; (at = out.find(reference)) != std::string::npos;)
            out.replace(at, reference.size(), value);
    }
    return out;
}

TEST(ProgramPaths, ExtractsTheProgramOfACommandLine)
{
    struct Case
    {
        const char* command;
        bool x86;
        const char* expected;
    };
    const Case cases[] = {
        {"\"C:\\Windows\\system32\\NOTEPAD.EXE\" %1", false, "C:\\Windows\\system32\\NOTEPAD.EXE"},
        {"rundll32.exe \"C:\\Program Files\\App\\viewer.dll\",ImageView", false, "C:\\Program Files\\App\\viewer.dll"},
        {"%ProgramFiles%\\App\\app.exe /x", true, "C:\\Program Files\\App\\app.exe"},
        {"%ProgramFiles%\\App\\app.exe /x", false, "C:\\Program Files\\App\\app.exe"},
        {"%PROGRAMW6432%\\Tool\\tool.exe", true, "C:\\Program Files\\Tool\\tool.exe"},
        {"%CommonProgramFiles(x86)%\\Shared\\s.dll,1", true, "C:\\Program Files (x86)\\Common Files\\Shared\\s.dll"},
        {"START C:\\Tools\\x.cmd", false, "C:\\Tools\\x.cmd"},
        {"C:\\a\\first.exe D:\\b\\second.exe", false, "C:\\a\\first.exe"},
        {"  \t ", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(ExtractProgramPath(c.command, c.x86, fakeEnvironment), c.expected);
    }
}

TEST(ProgramPaths, ExpandsOnlyTheFirstKindOfReferenceIn32BitLayout)
{
    EXPECT_EQ(ExpandProgramPaths("%programfiles%\\a;%COMMONPROGRAMFILES%\\b", true, fakeEnvironment),
              "C:\\Program Files\\a;%COMMONPROGRAMFILES%\\b");
    EXPECT_EQ(ExpandProgramPaths("%SystemRoot%\\x", true, fakeEnvironment), "C:\\Windows\\x");
    ::setenv("ORV_TEST_FOLDER", "/opt/tools", 1);
    EXPECT_EQ(expandEnvironmentReferences("%ORV_TEST_FOLDER%/bin:%NOT_SET_ANYWHERE%:50%"),
              "/opt/tools/bin:%NOT_SET_ANYWHERE%:50%");
}

} // namespace
} // namespace orv
