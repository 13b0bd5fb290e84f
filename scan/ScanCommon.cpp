#include "scan/ScanCommon.h"

#include <algorithm>
#include <limits>

#include "ntfs/BootSector.h"
#include "scan/DateText.h"
#include "scan/RecycleBin.h"
#include "scan/WildcardMask.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {
constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
} // namespace

void DateTexts::format(std::uint64_t fileTime, std::u16string& date, std::u16string& time)
{
    const std::uint64_t second = fileTime / 10'000'000;
    if (second != m_second) {
        m_second = second;
        m_date.clear();
        m_time.clear();
        if (const auto local = fileTimeToLocal(fileTime)) {
            m_date = shortDateText(*local);
            m_time = longTimeText(*local);
        }
    }
    date = m_date;
    time = m_time;
}

FileTest takeFileFacts(VolumeContext* volume, std::span<std::uint8_t> record, std::int64_t recordOffset,
                       const WildcardMask* mask, DateTexts& dates, FileFacts& facts)
{
    // An extension record holds attributes of its base record's file, never a file of its own.
    if (LeReader(record).u64(mft::kBaseRecord).value_or(0) & 0xFFFF'FFFF'FFFFull)
        return FileTest::NotAFile;
    const auto parts = readRecordParts(volume, record, recordOffset);
    if (!parts)
        return FileTest::Damaged;
    if (parts->directory || parts->names.empty() || !parts->hasData)
        return parts->damaged ? FileTest::Damaged : FileTest::NotAFile;

    FileTest test = FileTest::NotAFile;
    facts.moreLinks.clear();
    bool first = true;
    for (FileNameEntry& entry : longNames(parts->names)) {
        std::u16string& name = entry.name;
        if (name.empty()) {
            if (test != FileTest::Listed)
                test = FileTest::NoName;
            continue;
        }
        // A file put in the Recycle Bin: listed under the name its $I file gives, which the mask
        // is then tried on.
        const bool recycled = recycleId(name).has_value();
        if (recycleId(name, u'I') && test != FileTest::Listed && test != FileTest::RecycleInfo) {
            test = FileTest::RecycleInfo;
            facts.name = name;
            facts.parent = entry.parent;
            continue;
        }
        if (name.front() == u'$' && !recycled) {
            if (test != FileTest::Listed && test != FileTest::RecycleInfo)
                test = FileTest::SystemName;
            continue;
        }
        if (!recycled && mask && !mask->matches(name)) {
            if (test != FileTest::Listed)
                test = FileTest::MaskedOut;
            continue;
        }
        test = FileTest::Listed;
        if (first) {
            facts.recycled = recycled;
            facts.name = std::move(name);
            facts.parent = entry.parent;
            first = false;
        } else {
            facts.moreLinks.push_back({std::move(name), entry.parent});
        }
    }
    if (test == FileTest::RecycleInfo)
        return test;
    if (test != FileTest::Listed)
        return parts->damaged ? FileTest::Damaged : test;

    facts.resident = parts->dataResident;
    facts.size = parts->dataSize;
    facts.creationTime = parts->creationTime;
    facts.date.clear();
    facts.time.clear();
    if (parts->creationTime)
        dates.format(*parts->creationTime, facts.date, facts.time);
    return FileTest::Listed;
}

std::optional<AttributeSurvey> fixUpAndSurvey(std::span<std::uint8_t> record, ScanReport& report)
{
    ApplyRecordFixups(record);
    auto survey = SurveyAttributes(record);
    if (!survey)
        ++report.damagedRecords;
    return survey;
}

std::int64_t memoryBudget(std::uint64_t availablePhysicalMemory)
{
    constexpr std::int64_t kMiB = 1024 * 1024;
    if (availablePhysicalMemory == 0)
        return 512 * kMiB;
    const auto available = static_cast<std::int64_t>(
        std::min<std::uint64_t>(availablePhysicalMemory, static_cast<std::uint64_t>(kInt64Max)));
    return std::max(available - 200 * kMiB, 128 * kMiB);
}

bool loadVolumeBitmap(ScanSession& session, Pump& pump)
{
    VolumeContext& volume = session.volume;
    volume.VolumeBitmap.clear();
    if (volume.BytesPerCluster <= 0)
        return true;
    std::int64_t clusters = 0;
    for (const DataRun& run : session.MFTFile.ClusterList)
        if (run.length > 0)
            clusters = run.length > kInt64Max / volume.BytesPerCluster - clusters ? kInt64Max / volume.BytesPerCluster
                                                                                  : clusters + run.length;
    // One bit per cluster the device really holds: a boot sector may claim far more.
    const std::int64_t bitmapClusters = volume.TotalClusters > 0 ? volumeClusterCount(volume) : 0;
    const std::int64_t bitmapBytes = bitmapClusters / 8 + (bitmapClusters % 8 != 0);
    const std::int64_t cap =
        (bitmapBytes + volume.BytesPerCluster - 1) / volume.BytesPerCluster * volume.BytesPerCluster;
    const std::int64_t size = std::min(clusters * volume.BytesPerCluster, cap);
    volume.VolumeBitmap.assign(static_cast<std::size_t>(size), 0);

    std::int64_t position = 0;
    for (const DataRun& run : session.MFTFile.ClusterList) {
        pump.step();
        if (!session.ScanRunning)
            return false;
        if (run.length <= 0 || position >= size)
            continue;
        const std::int64_t bytes =
            std::min(run.length, (size - position) / volume.BytesPerCluster) * volume.BytesPerCluster;
        const std::int64_t sector = run.hole ? -1 : ClusterToSector(volume, run.start);
        if (sector >= 0) // a hole or a failed read leaves zeros: those clusters count as free
            ReadSectors(volume, static_cast<std::uint64_t>(sector),
                        std::span(volume.VolumeBitmap)
                            .subspan(static_cast<std::size_t>(position), static_cast<std::size_t>(bytes)));
        position += bytes;
    }
    return true;
}

} // namespace orv
