// Folders rebuilt inside the restore folder from folder paths on the volume: whatever the volume
// says, nothing is made outside the restore folder.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/UniqueFd.h"
#include "results/RestoreFolder.h"

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
    const UniqueFd restore(openRestoreFolder(root));
    ASSERT_GE(restore.get(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path relative;
        const UniqueFd folder(keptPathFolder(restore.get(), c.volumeFolder, relative));
        ASSERT_GE(folder.get(), 0);
        EXPECT_EQ(relative, c.expected);
        struct stat opened
        {
        }, expected{};
        ASSERT_EQ(::fstat(folder.get(), &opened), 0);
        ASSERT_EQ(::stat((root / c.expected).c_str(), &expected), 0);
        EXPECT_EQ(opened.st_ino, expected.st_ino) << "the descriptor is that folder";
        if (!c.expected.empty()) {
            EXPECT_EQ(opened.st_mode & 0777, 0700u) << "made private";
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(top), {}), 1) << "nothing beside the restore folder";
}

TEST_F(KeptPathFolder, ALinkOrAFileInTheWayIsRefused)
{
    const fs::path elsewhere = top / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, root / "Docs");
    const UniqueFd restore(openRestoreFolder(root));
    ASSERT_GE(restore.get(), 0);
    fs::path relative;
    EXPECT_LT(keptPathFolder(restore.get(), u"C:\\Docs\\Old\\", relative), 0);
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "the link was not followed";

    fs::create_directory(root / "Music");
    std::ofstream(root / "Music" / "Album") << "a file, not a folder";
    EXPECT_LT(keptPathFolder(restore.get(), u"C:\\Music\\Album\\Disc 1\\", relative), 0);
    EXPECT_TRUE(fs::is_regular_file(root / "Music" / "Album"));

    // The restore folder itself a link: refused, whatever it points to.
    fs::create_directory_symlink(root, top / "linked-restore");
    EXPECT_LT(openRestoreFolder(top / "linked-restore"), 0);
}

TEST_F(KeptPathFolder, FoldersBelongToTheRestoreFoldersOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    // As under pkexec: root restores into a folder of the user who asked.
    ASSERT_EQ(::chown(root.c_str(), 4321, 4321), 0);
    const UniqueFd restore(openRestoreFolder(root));
    fs::path relative;
    const UniqueFd folder(keptPathFolder(restore.get(), u"C:\\Docs\\Old\\", relative));
    ASSERT_GE(folder.get(), 0);
    for (const fs::path& made : {root / "Docs", root / "Docs" / "Old"}) {
        struct stat info
        {};
        ASSERT_EQ(::stat(made.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 4321u) << made;
        EXPECT_EQ(info.st_gid, 4321u) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
    // A folder another user made where ours would go is not written into.
    ASSERT_EQ(::mkdir((root / "Theirs").c_str(), 0777), 0);
    ASSERT_EQ(::chown((root / "Theirs").c_str(), 9876, 9876), 0);
    EXPECT_LT(keptPathFolder(restore.get(), u"C:\\Theirs\\", relative), 0);
}

// Two restores into one folder: the second one's start-up cleanup removes what a killed run left,
// never the file another live run is writing.
TEST_F(KeptPathFolder, CleanupRemovesOnlyTemporariesWhoseWriterIsGone)
{
    const UniqueFd folder(openRestoreFolder(root));
    ASSERT_GE(folder.get(), 0);
    // A process that has ended: its id names a writer that is gone.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const std::string prefix(kTemporaryPrefix);
    const std::string deadName = prefix + std::to_string(gone) + "-1";
    const std::string deadButLocked = prefix + std::to_string(gone) + "-2";
    const std::string liveName = prefix + std::to_string(::getppid()) + "-1"; // a running process
    const std::string noId = prefix + "old";
    for (const std::string& name : {deadName, deadButLocked, liveName, noId})
        std::ofstream(root / name) << "part of a file";
    // Written now by a writer in another process namespace, say: its id means nothing here.
    const UniqueFd locked(::open((root / deadButLocked).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(locked.get(), LOCK_EX), 0);
    // Being written by this very process.
    std::string ours;
    const UniqueFd writing(createTemporary(folder.get(), ours));
    ASSERT_GE(writing.get(), 0);

    removeLeftTemporaries(folder.get());
    EXPECT_FALSE(fs::exists(root / deadName));
    EXPECT_FALSE(fs::exists(root / noId));
    EXPECT_TRUE(fs::exists(root / deadButLocked));
    EXPECT_TRUE(fs::exists(root / liveName));
    EXPECT_TRUE(fs::exists(root / ours)) << "the file being written stays";
}

} // namespace
} // namespace orv
