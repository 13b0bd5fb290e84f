// NTFS behind the file-system seam: a listed file is a record of MftBuffer.

#include "results/FileSystem.h"
#include "scan/NormalScan.h"

namespace orv {

namespace {

class NtfsFileSystem : public FileSystem
{
public:
    ScanReport normalScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                          std::uint64_t availablePhysicalMemory) override
    {
        return NTFSFind1(session, pump, progress, availablePhysicalMemory);
    }

    ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                    std::uint64_t availablePhysicalMemory, ExtendedReach reach) override
    {
        return NTFSFind2(session, pump, progress, availablePhysicalMemory, reach);
    }

    std::optional<ListedFileFacts> facts(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind != FileLocator::Kind::MftRecord)
            return std::nullopt;
        if (const ListedRecord* listed = session.listedRecords.find(file.value))
            return listed->facts();
        return listedFileFacts(session.volume, file.value);
    }

    Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view name) override
    {
        if (file.kind != FileLocator::Kind::MftRecord)
            return Grade::None;
        if (const ListedRecord* listed = session.listedRecords.find(file.value))
            return gradeOf(session.volume, listed->grade(), name);
        // A record of its own: the list grades rows while a restore or a preview streams the file
        // decoded in the session.
        return AnalyzeProbabilityNTFS(session.volume, m_graded, file.value, name);
    }

    OpenedFile open(ScanSession& session, const FileLocator& file) override
    {
        OpenedFile opened;
        if (file.kind != FileLocator::Kind::MftRecord || file.value < 0 ||
            DecodeRecordNTFS(session.volume, static_cast<std::size_t>(file.value), session.MFTFile) ==
                RecordStatus::NotARecord) {
            opened.reason = "no MFT record at this offset";
            return opened;
        }
        const TMFTFile& decoded = session.MFTFile;
        opened.found = true;
        opened.size = decoded.FSize;
        opened.storedBytes = storedContentBytes(session.volume, decoded);
        opened.encrypted = decoded.Encrypted;
        // Only a stored first cluster holds the file's first bytes as they are: a compressed one,
        // or a hole, holds no signature.
        if (!decoded.ClusterList.empty() && decoded.CompressionUnit == 0 && !decoded.ClusterList.front().hole)
            opened.firstStoredCluster = decoded.ClusterList.front().start;
        return opened;
    }

    ContentReport stream(ScanSession& session, Pump& pump, const std::function<bool()>& keepGoing,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink,
                         const std::function<bool(std::int64_t)>& gap) override
    {
        if (gap)
            return streamFileContent(session.volume, session.MFTFile, pump, keepGoing, sink, gap);
        return streamFileContent(session.volume, session.MFTFile, pump, keepGoing, sink);
    }

    WipeOutcome wipe(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind != FileLocator::Kind::MftRecord)
            return {false, "no MFT record at this offset"};
        return WipeFileNTFS(session, file.value);
    }

    std::vector<NamedStream> streams(ScanSession& session, const FileLocator& file) override
    {
        VolumeContext& volume = session.volume;
        if (file.kind != FileLocator::Kind::MftRecord || file.value < 0 || volume.MftRecordSize <= 0 ||
            static_cast<std::uint64_t>(file.value) + static_cast<std::uint64_t>(volume.MftRecordSize) >
                volume.MftBuffer.size())
            return {};
        // A record the scan listed and saw no stream in is not read again.
        if (const ListedRecord* listed = session.listedRecords.find(file.value); listed && !listed->mayHoldStreams())
            return {};
        // A copy of its own, fixed up: the view every reader shares stays as read.
        std::vector<std::uint8_t> record(static_cast<std::size_t>(volume.MftRecordSize));
        volume.MftBuffer.read(file.value, record);
        ApplyRecordFixups(record);
        return namedStreams(&volume, record, file.value);
    }

    OpenedFile openStream(ScanSession& session, const FileLocator& file, const std::u16string& name) override
    {
        OpenedFile opened;
        VolumeContext& volume = session.volume;
        if (file.kind != FileLocator::Kind::MftRecord || file.value < 0 || volume.MftRecordSize <= 0 ||
            static_cast<std::uint64_t>(file.value) + static_cast<std::uint64_t>(volume.MftRecordSize) >
                volume.MftBuffer.size()) {
            opened.reason = "no MFT record at this offset";
            return opened;
        }
        std::vector<std::uint8_t> record(static_cast<std::size_t>(volume.MftRecordSize));
        volume.MftBuffer.read(file.value, record);
        if (decodeRecordOfView(volume, record, file.value, session.MFTFile, &name) != RecordStatus::Ok) {
            opened.reason = "the stream's attribute is damaged";
            return opened;
        }
        const TMFTFile& decoded = session.MFTFile;
        opened.found = true;
        opened.size = decoded.FSize;
        opened.storedBytes = storedContentBytes(volume, decoded);
        opened.encrypted = decoded.Encrypted;
        opened.emptyIsWhole = true; // an empty stream is a stream
        return opened;
    }

private:
    TMFTFile m_graded;
};

// A bare $MFT file copied off a volume: the same records, without the clusters their runs name.
// What lies inside a record (resident content) comes back byte for byte; the rest is listed with
// the reason it cannot, and the file itself, evidence, is never written.
class BareMftFileSystem final : public NtfsFileSystem
{
public:
    // Every record of the file is read by the Normal scan already; there is no volume to probe.
    ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                    std::uint64_t availablePhysicalMemory, ExtendedReach) override
    {
        ExtendedScanReport report;
        static_cast<ScanReport&>(report) = normalScan(session, pump, progress, availablePhysicalMemory);
        return report;
    }

    // Content outside the record cannot come back from this source, whatever the volume held.
    Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view name) override
    {
        const auto listed = facts(session, file);
        if (listed && listed->hasData && !listed->resident)
            return Grade::Poor;
        return NtfsFileSystem::grade(session, file, name);
    }

    OpenedFile open(ScanSession& session, const FileLocator& file) override
    {
        return insideRecordOnly(session, NtfsFileSystem::open(session, file));
    }

    OpenedFile openStream(ScanSession& session, const FileLocator& file, const std::u16string& name) override
    {
        return insideRecordOnly(session, NtfsFileSystem::openStream(session, file, name));
    }

    WipeOutcome wipe(ScanSession&, const FileLocator&) override
    {
        return {false, "a copied $MFT file is evidence and is only ever read"};
    }

private:
    static OpenedFile insideRecordOnly(ScanSession& session, OpenedFile opened)
    {
        if (opened.found && !session.MFTFile.Resident && opened.size > 0) {
            opened = {};
            opened.reason = "its content lies in clusters of the volume, which a copied $MFT file does not hold";
        }
        return opened;
    }
};

} // namespace

FileSystem& ntfsFileSystem()
{
    static NtfsFileSystem ntfs;
    return ntfs;
}

FileSystem& bareMftFileSystem()
{
    static BareMftFileSystem mft;
    return mft;
}

} // namespace orv
