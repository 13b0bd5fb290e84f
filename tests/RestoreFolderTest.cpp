// Folders rebuilt inside the restore folder from folder paths on the volume: whatever the volume
// says, nothing is made outside the restore folder.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "RestoreFolder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

class KeptPathFolder : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "orv-kept-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        top = pattern;
        root = top / "restore";
        fs::create_directory(root);
    }
    void TearDown() override { fs::remove_all(top); }

    fs::path top, root;
};

TEST_F(KeptPathFolder, EveryNameStaysInsideTheRestoreFolder)
{
    struct Case
    {
        const char* what;
        std::u16string volumeFolder;
        fs::path expected; // below the restore folder
    };
    const Case cases[] = {
        {"the root folder is the restore folder", u"C:\\", ""},
        {"drive letter dropped, folders nested", u"C:\\Docs\\Old\\", "Docs/Old"},
        {"\"..\" cannot climb", u"C:\\..\\..\\etc\\", "_/_/etc"},
        {"\".\" is not the same folder", u"C:\\.\\a\\", "_/a"},
        {"a slash in a name is no separator", u"C:\\a/b\\", "a_b"},
        {"NUL in a name", std::u16string(u"C:\\a\0b\\", 7), "a_b"},
        {"empty names between separators are skipped", u"Docs\\\\x\\", "Docs/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto folder = keptPathFolder(root, c.volumeFolder);
        ASSERT_TRUE(folder);
        EXPECT_EQ(*folder, c.expected.empty() ? root : root / c.expected);
        EXPECT_TRUE(fs::is_directory(*folder));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(top), {}), 1) << "nothing beside the restore folder";
}

TEST_F(KeptPathFolder, ALinkOrAFileInTheWayIsRefused)
{
    const fs::path elsewhere = top / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, root / "Docs");
    EXPECT_FALSE(keptPathFolder(root, u"C:\\Docs\\Old\\"));
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "the link was not followed";

    fs::create_directory(root / "Music");
    std::ofstream(root / "Music" / "Album") << "a file, not a folder";
    EXPECT_FALSE(keptPathFolder(root, u"C:\\Music\\Album\\Disc 1\\"));
    EXPECT_TRUE(fs::is_regular_file(root / "Music" / "Album"));
}

} // namespace
} // namespace orv
