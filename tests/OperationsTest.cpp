// Restore and Wipe as the results window runs them, with a window that records what it was asked
// to show.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "base/Utf16.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "results/Operations.h"
#include "results/Sha256.h"
#include "results/Wipe.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

class RecordingUi : public OperationUi
{
public:
    bool AskConfirmation(const LanguageText& question) override
    {
        shown.push_back(std::string(question.key));
        return answer;
    }
    void ShowInformation(const LanguageText& text, std::optional<int> count) override
    {
        shown.push_back((count ? std::to_string(*count) + " " : std::string()) + std::string(text.key));
    }
    void ShowProblem(const std::string& text) override { shown.push_back("problem: " + text); }
    void ShowImportantNotice() override { shown.push_back("notice"); }
    void runStarted() override { shown.push_back("started"); }
    void runFinished() override { shown.push_back("finished"); }
    void progress(int percent) override { bar.push_back(percent); }
    void counter(int done, int selected) override
    {
        counters.push_back(std::to_string(done) + "/" + std::to_string(selected));
    }
    void fileRestored(const std::u16string& folder, const std::u16string& name, const RestoreOutcome& outcome) override
    {
        reported.push_back({folder + name, outcome});
    }

    bool answer = true;
    std::vector<std::string> shown;
    std::vector<int> bar;
    std::vector<std::string> counters;
    std::vector<std::pair<std::u16string, RestoreOutcome>> reported;
};

// Clears ResultsBusy at a given step, as a Stop confirmed inside the window's pumping does.
class StopPump : public Pump
{
public:
    explicit StopPump(bool& busy) : m_busy(busy) {}
    void step() override
    {
        busySteps += m_busy ? 1 : 0;
        if (++steps == stopAt)
            m_busy = false;
    }
    int steps = 0;
    int busySteps = 0;
    int stopAt = -1;

private:
    bool& m_busy;
};

class Operations : public testing::Test
{
protected:
    void SetUp() override
    {
        const auto source = test::fixtureImage("ntfs-c4096");
        if (!std::filesystem::exists(source))
            GTEST_SKIP() << "fixture images are not unpacked";
        image = folder / "volume.img";
        std::filesystem::copy_file(source, image);
        drives =
            std::make_unique<LinuxDriveSystem>(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
        drives->addDrive("C:", image.string());
        ASSERT_EQ(RunFindChecks(session, *drives, "C:", u"", 10).check, FindCheck::Ok);
        PrepareScan(session, u"");
        StopPump pump(session.ResultsBusy);
        ScanProgress progress;
        NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);
        for (const std::u16string& name : session.store.keys(kShown))
            rows.push_back({name, false});
        ASSERT_GE(rows.size(), 4u);
    }
    const std::u16string kShown = u"C:\\Docs\\Projects\\";
    test::TempFolder temp;
    const std::filesystem::path& folder = temp.path();
    std::filesystem::path image;
    std::unique_ptr<LinuxDriveSystem> drives;
    ScanSession session;
    std::vector<FileRow> rows;
};

TEST_F(Operations, RestoreChecksAskAndCount)
{
    RecordingUi ui;
    StopPump pump(session.ResultsBusy);
    EXPECT_EQ(RunRestore(session, rows, kShown, folder / "out", false, ui, pump).end,
              OperationResult::End::NoSelection);
    rows[0].selected = rows[2].selected = true;
    ui.answer = false;
    EXPECT_EQ(RunRestore(session, rows, kShown, folder / "out", true, ui, pump).end, OperationResult::End::Declined);
    EXPECT_FALSE(std::filesystem::exists(folder / "out")) << "declined: no folder made, nothing written";
    EXPECT_EQ(RunRestore(session, rows, kShown, std::filesystem::path("C:\\Docs\\Projects\\"), false, ui, pump).end,
              OperationResult::End::Refused);
    EXPECT_FALSE(std::filesystem::exists("C:\\Docs\\Projects\\")) << "a refused restore makes no folder";

    ui.answer = true;
    const OperationResult result = RunRestore(session, rows, kShown, folder / "out", false, ui, pump);
    EXPECT_EQ(result.done, 2);
    EXPECT_GT(pump.busySteps, 0) << "busy while the rows run";
    EXPECT_FALSE(session.ResultsBusy) << "and idle after";
    EXPECT_EQ(ui.shown,
              (std::vector<std::string>{"Message2", "notice", "Message7", "Message6", "Message7", "started", "finished",
                                        "2 Message14"}));
    EXPECT_EQ(ui.counters, (std::vector<std::string>{"1/2", "2/2"}));
    EXPECT_EQ(ui.bar.back(), 100);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "out"), {}), 2);
}

TEST_F(Operations, StopDuringRestoreSkipsTheRest)
{
    for (FileRow& row : rows)
        row.selected = true;
    RecordingUi ui;
    StopPump pump(session.ResultsBusy);
    pump.stopAt = 4; // after the first row's file began
    const OperationResult result = RunRestore(session, rows, kShown, folder / "out", false, ui, pump);
    EXPECT_LE(result.done, 2);
    EXPECT_GE(result.done, 1);
    EXPECT_EQ(ui.shown.back(), std::to_string(result.done) + " Message14");
    EXPECT_FALSE(session.ResultsBusy);
}

// The command line restores files of several folders in one run, each into its folder rebuilt
// inside the restore folder, and reports every file; a folder that cannot be made fails only the
// files that go there.
TEST_F(Operations, RestoreAcrossFoldersKeepsPathsAndReportsEveryFile)
{
    std::vector<ListedRow> listed;
    for (const std::u16string folderPath : {u"C:\\Old\\", u"C:\\Old\\Sub\\", u"C:\\Docs\\"})
        for (const std::u16string& name : session.store.keys(folderPath))
            listed.push_back({folderPath, name});
    listed.push_back({u"C:\\Old\\", u"never-listed.txt"});
    const auto out = folder / "out";
    std::filesystem::create_directories(out);
    std::ofstream(out / "Docs") << "a file where a folder should be made";

    RecordingUi ui;
    StopPump pump(session.ResultsBusy);
    const OperationResult result = RunRestore(session, listed, out, RestoreLayout::KeepPaths, false, ui, pump);
    EXPECT_EQ(result.end, OperationResult::End::Ran);
    EXPECT_EQ(result.done, 3);
    EXPECT_EQ(ui.shown.back(), "3 Message14");
    ASSERT_EQ(ui.reported.size(), listed.size());
    using Status = RestoreOutcome::Status;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const ListedRow& row = listed[i];
        const RestoreOutcome& outcome = ui.reported[i].second;
        SCOPED_TRACE(toUtf8(row.folder + row.name));
        EXPECT_EQ(ui.reported[i].first, row.folder + row.name) << "reported in the order of the rows";
        if (row.name == u"never-listed.txt") {
            EXPECT_EQ(outcome.status, Status::Skipped);
        } else if (row.folder == u"C:\\Docs\\") {
            EXPECT_EQ(outcome.status, Status::Failed);
            EXPECT_FALSE(outcome.outputError) << "the other files still go on";
        } else {
            EXPECT_EQ(outcome.status, Status::Restored);
            const auto relative = row.folder == u"C:\\Old\\" ? "Old" : "Old/Sub";
            EXPECT_EQ(outcome.path, out / relative / toUtf8(row.name));
            EXPECT_TRUE(std::filesystem::is_regular_file(outcome.path));
        }
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(out / "Docs"));
}

TEST_F(Operations, WipeShowsItsProgressAndRemovesTheEntries)
{
    for (std::size_t i = 0; i < 4; ++i)
        rows[i].selected = true;
    RecordingUi ui;
    StopPump pump(session.ResultsBusy);
    EXPECT_EQ(RunWipe(session, rows, kShown, 6, ui, pump).end, OperationResult::End::Refused);
    EXPECT_EQ(ui.shown, std::vector<std::string>{"Message3"}) << "the Vista message and nothing else";
    ui.shown.clear();
    const OperationResult result = RunWipe(session, rows, kShown, 10, ui, pump);
    EXPECT_EQ(result.done, 4);
    EXPECT_FALSE(session.ResultsBusy);
    EXPECT_EQ(ui.bar, (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(ui.shown, (std::vector<std::string>{"Message9", "started", "finished", "4 Message10"}));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_FALSE(session.store.valueExists(kShown, rows[i].name));
    if (rows.size() > 4) {
        EXPECT_TRUE(session.store.valueExists(kShown, rows[4].name)) << "rows not selected stay";
    }
}

// The volume's bytes through a medium that refuses writes: either known before (a read-only image,
// device or medium) or only when a write is tried (a failing disk).
class RefusingMedium final : public SectorDevice
{
public:
    RefusingMedium(std::shared_ptr<SectorDevice> bytes, bool knownBefore)
        : m_bytes(std::move(bytes)), m_knownBefore(knownBefore)
    {}
    bool read(std::uint64_t at, std::span<std::uint8_t> out) override { return m_bytes->read(at, out); }
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    std::optional<std::uint64_t> size() override { return m_bytes->size(); }
    bool canWrite() override { return !m_knownBefore; }

private:
    std::shared_ptr<SectorDevice> m_bytes;
    bool m_knownBefore;
};

// A wipe that cannot write says why before its question, or names the files it left; either way
// every row whose record was not wiped stays listed.
TEST_F(Operations, WipeThatCannotWriteKeepsItsRows)
{
    rows[0].selected = rows[1].selected = true;
    struct NamingUi : RecordingUi
    {
        void fileNotWiped(const std::u16string& name, const std::string& reason) override
        {
            notWiped.push_back(name);
            EXPECT_FALSE(reason.empty());
        }
        std::vector<std::u16string> notWiped;
    };
    StopPump pump(session.ResultsBusy);
    const std::shared_ptr<SectorDevice> bytes = session.volume.Device;
    for (const bool knownBefore : {true, false}) {
        SCOPED_TRACE(knownBefore ? "refused before" : "refused by the write");
        session.volume.Device = std::make_shared<RefusingMedium>(bytes, knownBefore);
        NamingUi ui;
        const OperationResult result = RunWipe(session, rows, kShown, 10, ui, pump);
        EXPECT_EQ(result.done, 0);
        if (knownBefore) {
            EXPECT_EQ(result.end, OperationResult::End::Refused);
            EXPECT_EQ(ui.shown, std::vector<std::string>{"WipeReadOnly"}) << "said before any question";
        } else {
            EXPECT_EQ(ui.shown, (std::vector<std::string>{"Message9", "started", "finished", "0 Message10"}));
            EXPECT_EQ(ui.notWiped, (std::vector<std::u16string>{rows[0].name, rows[1].name}));
        }
        EXPECT_TRUE(session.store.valueExists(kShown, rows[0].name));
        EXPECT_TRUE(session.store.valueExists(kShown, rows[1].name));
    }
    session.volume.Device = bytes;
}

// Swaps two names back and forth (RENAME_EXCHANGE) until it ends, as a local user racing a restore
// would: one of them a real folder of the restore, the other a link to a folder outside it.
class NameSwapper
{
public:
    NameSwapper(std::filesystem::path a, std::filesystem::path b)
        : m_a(std::move(a)), m_b(std::move(b)), m_thread([this] {
              while (!m_stop)
                  swaps += ::renameat2(AT_FDCWD, m_a.c_str(), AT_FDCWD, m_b.c_str(), RENAME_EXCHANGE) == 0 ? 1 : 0;
          })
    {}
    ~NameSwapper()
    {
        m_stop = true;
        m_thread.join();
    }
    std::atomic<int> swaps{0};

private:
    std::filesystem::path m_a, m_b;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::size_t entriesBelow(const std::filesystem::path& folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::recursive_directory_iterator(folder), {}));
}

TEST_F(Operations, AFolderSwappedForALinkDuringRestoresNeverLeadsOut)
{
    const auto outside = folder / "outside";
    std::filesystem::create_directory(outside);
    int restored = 0;
    {
        // Kept paths: the folder "Old" of the restore swapped for a link to outside.
        const auto out = folder / "kept";
        std::filesystem::create_directories(out / "Old");
        std::filesystem::create_directory_symlink(outside, out / "swap");
        std::vector<ListedRow> listed;
        for (const std::u16string folderPath : {u"C:\\Old\\", u"C:\\Old\\Sub\\"})
            for (const std::u16string& name : session.store.keys(folderPath))
                listed.push_back({folderPath, name});
        ASSERT_FALSE(listed.empty());
        const NameSwapper swapper(out / "Old", out / "swap");
        for (int run = 0; run < 40; ++run) {
            RecordingUi ui;
            StopPump pump(session.ResultsBusy);
            restored += RunRestore(session, listed, out, RestoreLayout::KeepPaths, false, ui, pump).done;
        }
        EXPECT_GT(swapper.swaps.load(), 0);
    }
    {
        // Flat, with the restore folder in a folder the racer can write: the restore folder itself
        // swapped for a link to outside.
        const auto parent = folder / "parent";
        std::filesystem::create_directories(parent / "restore");
        std::filesystem::create_directory_symlink(outside, parent / "swap");
        for (FileRow& row : rows)
            row.selected = true;
        const NameSwapper swapper(parent / "restore", parent / "swap");
        for (int run = 0; run < 40; ++run) {
            RecordingUi ui;
            StopPump pump(session.ResultsBusy);
            restored += RunRestore(session, rows, kShown, parent / "restore", false, ui, pump).done;
        }
        EXPECT_GT(swapper.swaps.load(), 0);
    }
    EXPECT_GT(restored, 0) << "the restores did run";
    EXPECT_EQ(entriesBelow(outside), 0u) << "not a byte outside the restore folder";
}

// The image of the session mounted while the test runs: by ntfs-3g straight from the file, or
// through a loop device (then detached again).
class MountedImage
{
public:
    MountedImage(const std::filesystem::path& image, const std::filesystem::path& at, bool viaLoop) : m_at(at)
    {
        std::filesystem::create_directories(at);
        std::string source = image.string();
        if (viaLoop) {
            const std::string command = "losetup -f --show '" + image.string() + "' 2>/dev/null";
            if (FILE* pipe = ::popen(command.c_str(), "r")) {
                char line[256] = {};
                if (std::fgets(line, sizeof line, pipe))
                    m_loop = std::string(line, std::strcspn(line, "\n"));
                ::pclose(pipe);
            }
            if (m_loop.empty())
                return;
            source = m_loop;
        }
        m_mounted = std::system(("ntfs-3g '" + source + "' '" + at.string() + "' >/dev/null 2>&1").c_str()) == 0;
    }
    ~MountedImage()
    {
        if (m_mounted && std::system(("umount '" + m_at.string() + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot unmount " << m_at;
        if (!m_loop.empty() && std::system(("losetup -d " + m_loop).c_str()) != 0)
            ADD_FAILURE() << "cannot detach " << m_loop;
    }
    bool mounted() const { return m_mounted; }

private:
    std::filesystem::path m_at;
    std::string m_loop;
    bool m_mounted = false;
};

TEST_F(Operations, RestoreOntoTheScannedVolumeAndWipeUnderItsMountAreRefused)
{
    if (::geteuid() != 0 || !std::filesystem::exists("/dev/fuse") || std::system("command -v ntfs-3g >/dev/null") != 0)
        GTEST_SKIP() << "mounting the image needs root, FUSE and ntfs-3g";
    for (FileRow& row : rows)
        row.selected = true;
    for (const bool viaLoop : {false, true}) {
        SCOPED_TRACE(viaLoop ? "through a loop device" : "ntfs-3g on the image file");
        const auto mount = folder / "mnt";
        const MountedImage mounted(image, mount, viaLoop);
        if (!mounted.mounted()) {
            ADD_FAILURE() << "the image could not be mounted";
            continue;
        }
        for (const auto& target : {mount, mount / "Restored Files", mount / "Docs" / "new" / "deeper"}) {
            SCOPED_TRACE(target.string());
            RecordingUi ui;
            StopPump pump(session.ResultsBusy);
            EXPECT_EQ(RunRestore(session, rows, kShown, target, false, ui, pump).end, OperationResult::End::Refused);
            EXPECT_EQ(ui.shown, std::vector<std::string>{"RestoreOnScannedDrive"});
        }
        EXPECT_FALSE(std::filesystem::exists(mount / "Restored Files")) << "a refused restore makes nothing";
        EXPECT_FALSE(std::filesystem::exists(mount / "Docs" / "new"));

        RecordingUi ui;
        StopPump pump(session.ResultsBusy);
        EXPECT_EQ(RunWipe(session, rows, kShown, 10, ui, pump).end, OperationResult::End::Refused);
        EXPECT_EQ(ui.shown, std::vector<std::string>{"WipeMounted"});
        EXPECT_FALSE(
            WipeFileNTFS(session, *parseStoredValue(session.store.read(kShown, rows[0].name)).recordOffset).wiped);
    }

    // Unmounted again: every deleted file still comes back whole.
    RecordingUi ui;
    StopPump pump(session.ResultsBusy);
    const OperationResult result = RunRestore(session, rows, kShown, folder / "after", false, ui, pump);
    EXPECT_EQ(result.end, OperationResult::End::Ran);
    int compared = 0;
    for (const auto& entry : test::readManifest("ntfs-c4096")) {
        const std::string shown = "Docs/Projects/";
        if (entry.kind != "file" || entry.state != "deleted" || entry.size == 0 || !entry.path.starts_with(shown) ||
            entry.path.find('/', shown.size()) != std::string::npos)
            continue;
        const auto restored = folder / "after" / entry.path.substr(shown.size());
        EXPECT_EQ(sha256OfFile(restored.c_str()), entry.sha256) << entry.path;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

} // namespace
} // namespace orv
