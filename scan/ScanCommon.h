#pragma once

// Pieces both scans share: how a listed file's size, name and dates are taken from its record,
// and how the progress bar follows a walk.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/PageBytes.h"
#include "ntfs/MftRecord.h"
#include "scan/ScanSession.h"

namespace orv {

// One name a file is listed under, in one folder.
struct FileLink
{
    std::u16string name;
    std::int64_t parent = 0;
};

struct FileFacts
{
    std::u16string name; // the first of its long names
    std::int64_t parent = 0;
    std::vector<FileLink> moreLinks; // its other hard links that pass the mask
    bool resident = false;
    std::int64_t size = 0;
    std::optional<std::uint64_t> creationTime; // FILETIME (UTC) of its $STANDARD_INFORMATION
    std::u16string date; // empty when the record has no $STANDARD_INFORMATION
    std::u16string time;
    // Its name is a Recycle Bin content name ("$R..."): the scan lists it under the original name
    // its $I file gives and tries the mask on that name, not on this one.
    bool recycled = false;
};

// RecycleInfo: a Recycle Bin index file ("$I..."), never listed itself; `name` and `parent` say
// which $R file it describes.
enum class FileTest { Listed, NotAFile, Damaged, NoName, SystemName, MaskedOut, RecycleInfo };

// The date and time texts of creation times, made once per second of time: files written together
// share them, and formatting in the user's locale is the costliest part of listing a file.
class DateTexts
{
public:
    // Empty texts for a time the calendar cannot show.
    void format(std::uint64_t fileTime, std::u16string& date, std::u16string& time);

private:
    std::uint64_t m_second = ~std::uint64_t{0};
    std::u16string m_date, m_time;
};

// What a scan lists of a record it surveyed and fixed up (extension records included, found through
// the volume's MftBuffer): its long names exactly as the volume holds them, one per hard link, their parents, the unnamed $DATA's residency and size, and the
// creation date and time. NotAFile for directories, extension records and records without a name
// or content; SystemName for names that begin with "$" (a Recycle Bin's "$R" content is listed,
// its "$I" index files are RecycleInfo); MaskedOut when no name passes the mask.
FileTest takeFileFacts(VolumeContext* volume, std::span<std::uint8_t> record, std::int64_t recordOffset,
                       const class WildcardMask* mask, DateTexts& dates, FileFacts& facts);

// Fixes a candidate record up and surveys it; one that does not survey counts as damaged. The
// fixups come first: an attribute header may straddle the end of a 512-byte stride.
std::optional<AttributeSurvey> fixUpAndSurvey(std::span<std::uint8_t> record, ScanReport& report);

// The record of `size` bytes at `offset` of the buffer; empty when it does not fit.
inline std::span<std::uint8_t> recordAt(std::span<std::uint8_t> buffer, std::int64_t offset, std::int64_t size)
{
    if (offset < 0 || size <= 0 || static_cast<std::uint64_t>(offset) > buffer.size() ||
        static_cast<std::uint64_t>(size) > buffer.size() - static_cast<std::uint64_t>(offset))
        return {};
    return std::span(buffer).subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
}

// Follows a walk through `total` units on the progress bar (0 to 200 pixels) and label, telling
// the window only when the shown percentage changes.
class PercentShown
{
public:
    explicit PercentShown(ScanProgress& progress) : m_progress(progress) {}
    void reset()
    {
        m_percent = 0;
        m_progress.progressBar(0);
        m_progress.progressLabel(0);
    }
    void show(std::int64_t percent)
    {
        if (percent == m_percent)
            return;
        m_percent = percent;
        m_progress.progressBar(static_cast<int>(2 * percent));
        m_progress.progressLabel(static_cast<int>(percent));
    }
    // `done` of `total`, for counts of any size: a product with 100 could overflow.
    void showShare(std::int64_t done, std::int64_t total)
    {
        if (total > 0 && done >= 0)
            show(done >= total
                     ? 100
                     : static_cast<std::int64_t>(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
    }
    std::int64_t percent() const { return m_percent; }

private:
    ScanProgress& m_progress;
    std::int64_t m_percent = 0;
};

// True when the $Bitmap marks `cluster` in use; clusters beyond it count as free.
inline bool clusterInUse(std::span<const std::uint8_t> bitmap, std::int64_t cluster)
{
    if (cluster < 0 || static_cast<std::uint64_t>(cluster / 8) >= bitmap.size())
        return false;
    return (bitmap[static_cast<std::size_t>(cluster / 8)] >> (cluster % 8)) & 1;
}

// Budget for what a scan holds in memory: what is available less 200 MiB for everyone else, and
// never less than 128 MiB. When the system does not tell, 512 MiB.
std::int64_t memoryBudget(std::uint64_t availablePhysicalMemory);

// The $Bitmap file read into the session's VolumeBitmap from the runs in MFTFile.ClusterList (the
// caller decoded record 6 there). Runs beyond the volume are not read; the bitmap never claims
// more than one bit per cluster of the volume, rounded up to whole clusters. False when stopped.
bool loadVolumeBitmap(ScanSession& session, Pump& pump);

// One piece of MftBuffer read at once into a walking thread's own buffer, record by record.
class RecordPiece
{
public:
    // Reads piece `index` (whole records of the first `loaded` bytes, `pieceBytes` a piece) and
    // shows each record with its offset in MftBuffer.
    template <class Visit>
    void walk(VolumeContext& volume, std::int64_t loaded, std::int64_t pieceBytes, std::int64_t index, Visit&& visit)
    {
        const std::int64_t recordSize = volume.MftRecordSize;
        const std::int64_t first = index * pieceBytes;
        const std::int64_t length = std::min(pieceBytes, loaded - first) / recordSize * recordSize;
        if (length <= 0)
            return;
        m_bytes.resize(static_cast<std::size_t>(length));
        volume.MftBuffer.readThrough(first, m_bytes);
        for (std::int64_t within = 0; within < length; within += recordSize)
            visit(first + within,
                  std::span(m_bytes).subspan(static_cast<std::size_t>(within), static_cast<std::size_t>(recordSize)));
    }

private:
    PageBytes m_bytes;
};

} // namespace orv
