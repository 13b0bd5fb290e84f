// Files found by their content behind the file-system seam. The whole-disc scan of any file system
// notes where known formats begin in its free clusters; once the file system has listed what it
// knows by name, the rest is read here and listed under "Found by content\<TYPE>\". Every other
// file goes to the file system that listed it.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>

#include "results/FileSystem.h"
#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"
#include "shell/LanguageTexts.h"

namespace orv {

namespace {

constexpr std::uint64_t kChunk = std::uint64_t{1} << 20;

const FoundByContent* foundAt(const ScanSession& session, const FileLocator& file)
{
    if (file.kind != FileLocator::Kind::FoundByContent || file.value < 0 ||
        static_cast<std::uint64_t>(file.value) >= session.foundByContent.size())
        return nullptr;
    return &session.foundByContent[static_cast<std::size_t>(file.value)];
}

// "00012345.jpg": the cluster where the file begins, at least eight digits.
std::u16string foundName(const FoundByContent& file)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%08llu", static_cast<unsigned long long>(file.firstCluster));
    std::u16string name(digits, digits + std::char_traits<char>::length(digits));
    name += u'.';
    name.append(file.extension.begin(), file.extension.end());
    return name;
}

class FoundByContentFileSystem final : public FileSystem
{
public:
    explicit FoundByContentFileSystem(FileSystem& listed) : m_listed(listed) {}

    ScanReport normalScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                          std::uint64_t availablePhysicalMemory) override
    {
        forget(session);
        return m_listed.normalScan(session, pump, progress, availablePhysicalMemory);
    }

    ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                    std::uint64_t availablePhysicalMemory, ExtendedReach reach) override
    {
        forget(session);
        // Only the whole-disc scan reads every cluster: the others stay as they were.
        if (reach != ExtendedReach::WholeVolume)
            return m_listed.extendedScan(session, pump, progress, availablePhysicalMemory, reach);
        session.carving = std::make_shared<ContentCarving>();
        ExtendedScanReport report = m_listed.extendedScan(session, pump, progress, availablePhysicalMemory, reach);
        const std::shared_ptr<ContentCarving> carving = std::move(session.carving);
        // A stopped scan keeps what it listed; reading the found files would only make it wait.
        if (report.end == ScanEnd::Finished && carving && carving->ready() && session.volume.Device)
            listFound(session, pump, progress, *carving, report);
        return report;
    }

    std::optional<ListedFileFacts> facts(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind != FileLocator::Kind::FoundByContent)
            return m_listed.facts(session, file);
        const FoundByContent* found = foundAt(session, file);
        if (!found)
            return std::nullopt;
        ListedFileFacts facts;
        facts.hasData = true;
        facts.size = static_cast<std::int64_t>(found->size);
        return facts;
    }

    Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view name) override
    {
        if (file.kind != FileLocator::Kind::FoundByContent)
            return m_listed.grade(session, file, name);
        const FoundByContent* found = foundAt(session, file);
        if (!found)
            return Grade::None;
        // Good only where checks covered the bytes themselves, to the file's end, with no guess
        // of where a fragment continues; a file cut at its last good point is Poor.
        if (!found->whole)
            return Grade::Poor;
        return found->contentChecked && !found->guessed ? Grade::Good : Grade::Average;
    }

    OpenedFile open(ScanSession& session, const FileLocator& file) override
    {
        session.openedFound = -1;
        if (file.kind != FileLocator::Kind::FoundByContent)
            return m_listed.open(session, file);
        OpenedFile opened;
        const FoundByContent* found = foundAt(session, file);
        if (!found) {
            opened.reason = "no file was found by its content at this place";
            return opened;
        }
        session.openedFound = file.value;
        opened.found = true;
        opened.size = static_cast<std::int64_t>(std::min<std::uint64_t>(found->size, INT64_MAX));
        opened.storedBytes = opened.size;
        return opened;
    }

    ContentReport stream(ScanSession& session, Pump& pump, const std::function<bool()>& keepGoing,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink,
                         const std::function<bool(std::int64_t)>& gap) override
    {
        if (session.openedFound < 0)
            return m_listed.stream(session, pump, keepGoing, sink, gap);
        ContentReport report;
        const FoundByContent* found = foundAt(session, {FileLocator::Kind::FoundByContent, session.openedFound});
        const ContentCarving::Geometry& g = session.foundGeometry;
        if (!found || !session.volume.Device || g.bytesPerCluster == 0)
            return report;
        SectorDevice& device = *session.volume.Device;
        std::uint64_t left = found->size;
        std::vector<std::uint8_t> chunk;
        for (const ClusterRun& run : found->runs) {
            std::uint64_t position = g.firstPosition + (run.first - g.firstCluster) * g.bytesPerCluster;
            std::uint64_t length = std::min(left, run.count * g.bytesPerCluster);
            while (length > 0) {
                if (!keepGoing()) {
                    report.stopped = true;
                    return report;
                }
                chunk.resize(static_cast<std::size_t>(std::min(length, kChunk)));
                if (!device.read(position, chunk)) {
                    std::fill(chunk.begin(), chunk.end(), std::uint8_t{0});
                    report.zeroedBytes += static_cast<std::int64_t>(chunk.size());
                    report.damaged = true;
                }
                if (!sink(chunk)) {
                    report.outputFailed = true;
                    return report;
                }
                report.written += static_cast<std::int64_t>(chunk.size());
                position += chunk.size();
                length -= chunk.size();
                left -= chunk.size();
                pump.step();
            }
        }
        return report;
    }

    WipeOutcome wipe(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind == FileLocator::Kind::FoundByContent)
            return {false, std::string(lang::kFileWipeFoundByContent.english)};
        return m_listed.wipe(session, file);
    }

    std::vector<NamedStream> streams(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind == FileLocator::Kind::FoundByContent)
            return {};
        return m_listed.streams(session, file);
    }

    OpenedFile openStream(ScanSession& session, const FileLocator& file, const std::u16string& name) override
    {
        session.openedFound = -1;
        if (file.kind == FileLocator::Kind::FoundByContent)
            return FileSystem::openStream(session, file, name);
        return m_listed.openStream(session, file, name);
    }

private:
    static void forget(ScanSession& session)
    {
        session.carving.reset();
        session.foundByContent.clear();
        session.carvingReport = {};
        session.foundGeometry = {};
        session.openedFound = -1;
    }

    static void listFound(ScanSession& session, Pump& pump, ScanProgress& progress, ContentCarving& carving,
                          ExtendedScanReport& report)
    {
        session.ScanRunning = true;
        session.SkipRequested = false;
        const auto keepGoing = [&] {
            pump.step();
            return session.ScanRunning && !session.SkipRequested;
        };
        // The files are read in a step of their own, with the bar showing how far.
        progress.stepStarted(ScanStep::FindFiles);
        PercentShown shown(progress);
        shown.reset();
        session.foundByContent =
            carving.carve(*session.volume.Device, keepGoing, [&](std::uint64_t done, std::uint64_t total) {
                shown.showShare(static_cast<std::int64_t>(done), static_cast<std::int64_t>(total));
            });
        progress.progressBar(200);
        session.carvingReport = carving.report();
        session.foundGeometry = carving.geometry();
        if (!session.ScanRunning)
            report.end = ScanEnd::Stopped;
        session.ScanRunning = false;
        session.SkipRequested = false;

        const auto mask = session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(session.FileMask);
        const std::u16string folder = fromAscii(session.volume.Drive) + u"\\" + session.FoundByContentFolder + u"\\";
        for (std::size_t i = 0; i < session.foundByContent.size(); ++i) {
            const FoundByContent& found = session.foundByContent[i];
            const std::u16string name = foundName(found);
            if (mask && !mask->matches(name))
                continue;
            std::u16string type;
            for (const char c : found.extension)
                type += static_cast<char16_t>(std::toupper(static_cast<unsigned char>(c)));
            const FileLocator locator{FileLocator::Kind::FoundByContent, static_cast<std::int64_t>(i)};
            session.store.write(folder + type + u"\\", name,
                                formatStoredValue(locator, u"", u"", static_cast<std::int64_t>(found.size)));
            ++session.FilesFound;
        }
    }

    FileSystem& m_listed;
};

} // namespace

FileSystem& foundByContentBeside(FileSystem& listed)
{
    // One for each file system that lists by name; they live as long as the program, and only the
    // thread of the scans and the results window asks for them.
    static std::map<FileSystem*, std::unique_ptr<FoundByContentFileSystem>> beside;
    std::unique_ptr<FoundByContentFileSystem>& decorated = beside[&listed];
    if (!decorated)
        decorated = std::make_unique<FoundByContentFileSystem>(listed);
    return *decorated;
}

} // namespace orv
