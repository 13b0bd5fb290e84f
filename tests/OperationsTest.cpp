// Restore and Wipe as the results window runs them, with a window that records what it was asked
// to show.

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "FindChecks.h"
#include "Fixtures.h"
#include "LinuxDriveSystem.h"
#include "NormalScan.h"
#include "Operations.h"
#include "TempFolder.h"
#include "Utf16.h"

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
    void counter(int done, int selected) override { counters.push_back(std::to_string(done) + "/" + std::to_string(selected)); }
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
        drives = std::make_unique<LinuxDriveSystem>(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
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
    EXPECT_TRUE(std::filesystem::is_empty(folder / "out")) << "declined: nothing written";
    EXPECT_EQ(RunRestore(session, rows, kShown, std::filesystem::path("C:\\Docs\\Projects\\"), false, ui, pump).end,
              OperationResult::End::Refused);

    ui.answer = true;
    const OperationResult result = RunRestore(session, rows, kShown, folder / "out", false, ui, pump);
    EXPECT_EQ(result.done, 2);
    EXPECT_GT(pump.busySteps, 0) << "busy while the rows run";
    EXPECT_FALSE(session.ResultsBusy) << "and idle after";
    EXPECT_EQ(ui.shown, (std::vector<std::string>{"Message2", "notice", "Message7", "Message6", "Message7",
                                                  "started", "finished", "2 Message14"}));
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

} // namespace
} // namespace orv
