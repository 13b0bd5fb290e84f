// The results window over one folder of 100,000 deleted files: opening the folder (rows listed,
// the first one chosen, the visible rows graded and drawn) and scrolling the list a page at a
// time. Runs without a display (the offscreen platform unless QT_QPA_PLATFORM says otherwise).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "base/Utf16.h"
#include "platform/linux/FileDevice.h"
#include "scan/ListedFileFacts.h"
#include "shell/ui/ResultsWindow.h"
#include "tests/support/RecordBuilder.h"

namespace {

constexpr int kFiles = 100'000;
constexpr std::uint32_t kRecordSize = 1024;

// ORV_BENCH_READ_RECORDS=1 leaves out what the scan keeps, so every grade reads its record again:
// the window as it was before the scan kept them, to compare with.
bool keptByTheScan()
{
    const char* read = std::getenv("ORV_BENCH_READ_RECORDS");
    return !(read && *read == '1');
}

// A scanned session: every file a deleted record with its name, times and a little content.
orv::ScanSession& session()
{
    static orv::ScanSession made = [] {
        orv::ScanSession s;
        s.volume.Drive = "C:";
        s.volume.MftRecordSize = kRecordSize;
        s.volume.BytesPerCluster = 4096;
        s.volume.TotalClusters = 1 << 20;
        s.volume.VolumeBitmap.assign(s.volume.TotalClusters / 8, 0);
        std::vector<std::uint8_t> mft(std::size_t{kFiles} * kRecordSize);
        for (int i = 0; i < kFiles; ++i) {
            const std::u16string name =
                orv::fromAscii("Holiday photo " + std::to_string(i) + (i % 3 ? ".txt" : ".doc"));
            const auto record = orv::test::RecordBuilder()
                                    .inUse(false)
                                    .standardInformation(133'000'000'000'000'000ull + std::uint64_t(i) * 10'000'000)
                                    .fileName(name, 5)
                                    .residentData({'h', 'e', 'l', 'l', 'o'})
                                    .build(false);
            std::copy(record.begin(), record.end(), mft.begin() + std::ptrdiff_t(i) * kRecordSize);
            s.store.write(u"C:\\Big\\", name,
                          orv::formatStoredValue(std::int64_t(i) * kRecordSize, u"10.12.2026", u"05:00:44", 5));
            // What the scan keeps of each record it lists, as it does for the desktop program:
            // the creation time, a resident content, and the grade's basis that follows from it.
            if (keptByTheScan())
                s.listedRecords.add(orv::ListedRecord(
                    std::int64_t(i) * kRecordSize,
                    {133'000'000'000'000'000ull + std::uint64_t(i) * 10'000'000, true, true, 5}, {100, std::nullopt}));
        }
        // The records are read from an image file on demand, as after a real scan.
        char path[] = "/tmp/bench-results-window-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0 || ::write(fd, mft.data(), mft.size()) != static_cast<ssize_t>(mft.size()))
            std::abort();
        ::close(fd);
        auto device = std::make_shared<orv::FileDevice>(path);
        (void)device->size(); // opened now: the file's name can go
        ::unlink(path);
        s.volume.Device = device;
        s.volume.MftBuffer.open(device, {{0, static_cast<std::int64_t>(mft.size())}});
        s.FilesFound = kFiles;
        return s;
    }();
    return made;
}

struct Window
{
    orv::LanguageCatalogue texts;
    orv::ui::TForm2 form;

    Window()
        : form(orv::ui::ResultsServices{.session = session(),
                                        .texts = texts,
                                        .showNote = [] { return false; },
                                        .restoreFolder = [] { return std::filesystem::path("/tmp"); },
                                        .osMajorVersion = 10,
                                        .mountPoint = [](const std::string&) { return std::filesystem::path(); },
                                        .languageIndex = 1})
    {
        form.setPumpInterval(std::chrono::milliseconds(10));
        form.ShowForm();
        form.show();
        QApplication::processEvents();
    }
    QTreeWidgetItem* bigFolder() const { return form.DList()->topLevelItem(0)->child(0); }
};

void BM_OpenFolderOf100kFiles(benchmark::State& state)
{
    Window window;
    QTreeWidgetItem* root = window.form.DList()->topLevelItem(0);
    for (auto _ : state) {
        window.form.DListChange(root); // an empty folder in between
        window.form.DListChange(window.bigFolder());
        // The window drawn as the user first sees it: the visible rows graded and painted.
        benchmark::DoNotOptimize(window.form.grab());
    }
    if (window.form.model()->rowCount() != kFiles)
        state.SkipWithError("the folder did not list every file");
}
BENCHMARK(BM_OpenFolderOf100kFiles)->Unit(benchmark::kMillisecond);

// Sorting by grade and by date grades every row and takes every creation time: from what the scan
// kept, no record of the 100,000 is read.
void BM_SortByGradeAndDate(benchmark::State& state)
{
    Window window;
    window.form.DListChange(window.bigFolder());
    orv::ui::FileListModel* model = window.form.model();
    for (auto _ : state) {
        window.form.DListChange(window.form.DList()->topLevelItem(0)); // rows graded anew
        window.form.DListChange(window.bigFolder());
        model->sort(orv::ui::FileListModel::Recoverability);
        model->sort(orv::ui::FileListModel::Date);
    }
    if (model->rowCount() != kFiles)
        state.SkipWithError("the folder did not list every file");
}
BENCHMARK(BM_SortByGradeAndDate)->Unit(benchmark::kMillisecond);

void BM_ScrollOnePage(benchmark::State& state)
{
    Window window;
    window.form.DListChange(window.bigFolder());
    QTableView* list = window.form.FList();
    QScrollBar* bar = list->verticalScrollBar();
    int position = 0;
    for (auto _ : state) {
        position = (position + bar->pageStep()) % bar->maximum();
        bar->setValue(position);
        benchmark::DoNotOptimize(list->viewport()->grab());
    }
}
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMillisecond);

void BM_SelectAllAndDeselectAll(benchmark::State& state)
{
    Window window;
    window.form.DListChange(window.bigFolder());
    for (auto _ : state) {
        window.form.SelectLabelClick();
        benchmark::DoNotOptimize(window.form.selectedCount());
        window.form.DeselectLabelClick();
    }
}
BENCHMARK(BM_SelectAllAndDeselectAll)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    orv::ui::setUpIconTheme();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
