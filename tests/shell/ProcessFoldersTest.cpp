#include <gtest/gtest.h>

#include <map>

#include "platform/linux/LinuxSystemFacts.h"
#include "shell/ProcessFolders.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::writeFile;

using Environment = std::map<std::string, std::string>;

LinuxSystemSources sourcesWith(const Environment& environment)
{
    LinuxSystemSources sources;
    sources.environment = [environment](const std::string& name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        if (found == environment.end())
            return std::nullopt;
        return found->second;
    };
    return sources;
}

struct TempCase
{
    const char* what;
    Environment environment;
    std::string folder;
};

TEST(SystemFacts, TemporaryFolderFromTheEnvironment)
{
    const TempCase cases[] = {
        {"TEMP first", {{"TEMP", "/t1"}, {"TMP", "/t2"}, {"TMPDIR", "/t3"}}, "/t1"},
        {"blanks and quotes removed", {{"TEMP", " \t\"/my temp\"\n"}}, "/my temp"},
        {"a reference is expanded", {{"TEMP", "%HOME%/tmp"}, {"HOME", "/home/ann"}}, "/home/ann/tmp"},
        {"an unknown reference stays", {{"TEMP", "/x/%NOPE%/y"}}, "/x/%NOPE%/y"},
        {"nothing is cut after a comma or a program extension",
         {{"TEMP", "/home/a,b/.BAT/x.exe y"}},
         "/home/a,b/.BAT/x.exe y"},
        {"an empty TEMP falls to TMP", {{"TEMP", "  "}, {"TMP", "/t2"}}, "/t2"},
        {"then TMPDIR", {{"TMPDIR", "/t3"}}, "/t3"},
        {"then /tmp", {}, "/tmp"},
    };
    for (const TempCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LinuxSystemFacts(sourcesWith(c.environment)).temporaryFolder(), c.folder);
    }
}

TEST(SystemFacts, DesktopFolderTheXdgWay)
{
    TempFolder temp;
    const std::string config = (temp / "config").string();
    writeFile(temp / "config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
              "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    writeFile(temp / "absolute/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/data/desk\"\n");

    struct DesktopCase
    {
        const char* what;
        Environment environment;
        std::string desktop;
    } const cases[] = {
        {"the environment says", {{"XDG_DESKTOP_DIR", "/env/desk"}, {"HOME", "/home/ann"}}, "/env/desk"},
        {"user-dirs.dirs with $HOME", {{"XDG_CONFIG_HOME", config}, {"HOME", "/home/ann"}}, "/home/ann/Schreibtisch"},
        {"user-dirs.dirs with a full path",
         {{"XDG_CONFIG_HOME", (temp / "absolute").string()}, {"HOME", "/home/ann"}},
         "/data/desk"},
        {"nothing configured",
         {{"XDG_CONFIG_HOME", (temp / "none").string()}, {"HOME", "/home/ann"}},
         "/home/ann/Desktop"},
    };
    for (const DesktopCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LinuxSystemFacts(sourcesWith(c.environment)).desktopFolder(), c.desktop);
    }
}

TEST(ProcessFolders, LocateFoldersOnThisSystem)
{
    LinuxSystemSources sources =
        sourcesWith({{"HOME", "/home/ann"}, {"XDG_DESKTOP_DIR", "/home/ann/Desktop/"}, {"TMP", "/var/tmp"}});
    LinuxSystemFacts facts(sources);
    const ProcessFolders folders = LocateFolders(facts);

    EXPECT_EQ(folders.OsMajorVersion, 10); // a current Windows: no Vista refusals
    EXPECT_FALSE(folders.ProgramFilesIsX86);
    EXPECT_EQ(folders.TempFolder, "/var/tmp/");
    EXPECT_EQ(folders.RestoreFolder, "/home/ann/Desktop/Restored Files");
    EXPECT_EQ(folders.ApplicationFolder, fs::read_symlink("/proc/self/exe").parent_path().string());
    EXPECT_FALSE(folders.ApplicationFolder.ends_with("/"));
}

// What another system might answer, and what the program makes of it.
class FakeFacts : public SystemFacts
{
public:
    std::optional<std::int32_t> version;
    std::string executable, programFiles, desktop, temporary = "/tmp";

    std::optional<std::int32_t> osMajorVersion() override { return version; }
    std::string executablePath() override { return executable; }
    std::string programFilesFolder() override { return programFiles; }
    std::string desktopFolder() override { return desktop; }
    std::string temporaryFolder() override { return temporary; }
    bool isInternetConnected() override { return false; }
};

TEST(ProcessFolders, LocateFoldersWhenTheSystemSaysLittle)
{
    FakeFacts facts;
    facts.executable = "/opt/orvandel/bin/orvandel";
    facts.programFiles = "/opt/Program Files (x86)";
    facts.temporary = "/scratch/";
    const ProcessFolders folders = LocateFolders(facts);
    EXPECT_EQ(folders.OsMajorVersion, 7) << "unknown version";
    EXPECT_EQ(folders.ApplicationFolder, "/opt/orvandel/bin");
    EXPECT_TRUE(folders.ProgramFilesIsX86);
    EXPECT_EQ(folders.TempFolder, "/scratch/") << "one separator, not two";
    EXPECT_EQ(folders.RestoreFolder, "/scratch/Restored Files") << "no desktop: still a writable place";
}

TEST(SystemFacts, OnlineWhenADefaultRouteLeadsOut)
{
    const std::string ipv4Header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string ipv4Default = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string ipv4Local = "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    const std::string ipv4Down = "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string ipv6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                    "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n";
    // The kernel always lists an "unreachable" default route on the loopback device.
    const std::string ipv6LoReject = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                     "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";

    struct RouteCase
    {
        const char* what;
        std::optional<std::string> ipv4, ipv6;
        bool online;
    } const cases[] = {
        {"IPv4 default route", ipv4Header + ipv4Local + ipv4Default, ipv6LoReject, true},
        {"only the local network", ipv4Header + ipv4Local, ipv6LoReject, false},
        {"default route that is down", ipv4Header + ipv4Down, std::string(), false},
        {"IPv6 only", ipv4Header, ipv6LoReject + ipv6Default, true},
        {"no routing tables at all", std::nullopt, std::nullopt, false},
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        if (c.ipv4)
            writeFile(temp / "route", *c.ipv4);
        if (c.ipv6)
            writeFile(temp / "ipv6_route", *c.ipv6);
        EXPECT_EQ(hasDefaultRoute(temp / "route", temp / "ipv6_route"), c.online);
    }
}

} // namespace
} // namespace orv
