#include "ScanCommon.h"

#include <algorithm>
#include <limits>

#include "BootSector.h"
#include "DateText.h"
#include "LeReader.h"
#include "SectorIo.h"
#include "WildcardMask.h"

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

FileTest takeFileFacts(std::span<const std::uint8_t> record, const AttributeSurvey& survey, const WildcardMask* mask,
                       DateTexts& dates, FileFacts& facts)
{
    if (survey.IndexRoot || survey.IndexAllocation || !survey.FileName || !survey.Data)
        return FileTest::NotAFile;
    auto name = readFileName(record, survey.FileName);
    const auto parent = readParentRecord(record, survey.FileName);
    if (!name || !parent)
        return FileTest::Damaged;
    if (name->empty())
        return FileTest::NoName;
    if (name->front() == u'$')
        return FileTest::SystemName;
    if (const auto equals = name->find(u'='); equals != std::u16string::npos)
        name->erase(equals, 1);
    if (mask && !mask->matches(*name))
        return FileTest::MaskedOut;

    const LeReader r(record);
    const auto nonResident = r.u8(survey.Data + attr::kNonResident);
    if (!nonResident)
        return FileTest::Damaged;
    const std::optional<std::uint64_t> size =
        *nonResident == 0 ? r.uint(survey.Data + attr::kContentLength, 4) : r.u64(survey.Data + attr::kDataSize);
    if (!size)
        return FileTest::Damaged;

    facts.name = std::move(*name);
    facts.parent = *parent;
    facts.resident = *nonResident == 0;
    facts.size = static_cast<std::int64_t>(std::min<std::uint64_t>(*size, static_cast<std::uint64_t>(kInt64Max)));
    facts.date.clear();
    facts.time.clear();
    if (survey.StandardInformation) {
        if (const auto created = readCreationTime(record, survey.StandardInformation))
            dates.format(*created, facts.date, facts.time);
    }
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
    const auto available = static_cast<std::int64_t>(std::min<std::uint64_t>(availablePhysicalMemory, static_cast<std::uint64_t>(kInt64Max)));
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
            clusters = std::min<std::int64_t>(clusters + run.length, kInt64Max / volume.BytesPerCluster);
    const std::int64_t bitmapBytes = (std::max<std::int64_t>(volume.TotalClusters, 0) + 7) / 8;
    const std::int64_t cap = (bitmapBytes + volume.BytesPerCluster - 1) / volume.BytesPerCluster * volume.BytesPerCluster;
    const std::int64_t size = std::min(clusters * volume.BytesPerCluster, cap);
    volume.VolumeBitmap.assign(static_cast<std::size_t>(size), 0);

    std::int64_t position = 0;
    for (const DataRun& run : session.MFTFile.ClusterList) {
        pump.step();
        if (!session.ScanRunning)
            return false;
        if (run.length <= 0 || position >= size)
            continue;
        const std::int64_t bytes = std::min(run.length, (size - position) / volume.BytesPerCluster) * volume.BytesPerCluster;
        const std::int64_t sector = ClusterToSector(volume, run.start);
        if (sector >= 0) // a failed read leaves zeros: those clusters count as free
            ReadSectors(volume, static_cast<std::uint64_t>(sector),
                        std::span(volume.VolumeBitmap).subspan(static_cast<std::size_t>(position), static_cast<std::size_t>(bytes)));
        position += bytes;
    }
    return true;
}

} // namespace orv
