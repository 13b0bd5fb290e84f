#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/PageBytes.h"
#include "platform/SectorDevice.h"

namespace orv {

// The $MFT (or the Extended scan's regions) as the scan found it: pieces of the device laid back
// to back, read where they lie whenever a record is wanted. Nothing holds a private copy of the
// whole: a $MFT of millions of records costs the same few megabytes as a small one, so no record is
// ever left out for lack of memory. The bytes are read-only here; a reader copies a record out
// (read) before fixing it up, so what one reader changes never shows to another.
//
// Blocks of the view are read into a small cache; where the device is a plain file or block device,
// the system is asked to fetch the next blocks while one is examined. Blocks are read, not mapped:
// a mapping of an image file that is cut short meanwhile kills the process when touched, and the
// results window reads records long after the scan. Unreadable bytes read as zeros, as every read
// of the volume does.
class MftView
{
public:
    // `length` bytes at byte `position` of the device; a position below 0 reads as zeros (a region
    // the scan was told to skip).
    struct Piece
    {
        std::int64_t position = 0;
        std::int64_t length = 0;
    };

    // A stretch of the view's bytes as it lies on the device: `position` below 0 reads as zeros.
    struct Stretch
    {
        std::int64_t position = 0;
        std::size_t length = 0;
    };

    MftView() = default;
    MftView(const MftView&) = delete;
    MftView& operator=(const MftView&) = delete;
    MftView(MftView&& other) noexcept;
    MftView& operator=(MftView&& other) noexcept;
    ~MftView();

    // A view of the device's `pieces`, back to back; forgets the listed records.
    void open(std::shared_ptr<SectorDevice> device, std::vector<Piece> pieces);
    // A view of bytes held in memory: records made by hand, or read by a caller of its own.
    void assign(std::vector<std::uint8_t> bytes);
    void clear();

    std::size_t size() const { return static_cast<std::size_t>(m_size); }
    bool empty() const { return m_size == 0; }

    // Copies the bytes at [offset, offset + out.size()) into `out` through the cache. False (and
    // zeros) when they do not lie wholly inside the view. Safe from several threads at once.
    bool read(std::int64_t offset, std::span<std::uint8_t> out);
    // A record looked up alone (a restore, a preview, a grade, a listing's facts), outside any walk:
    // from a block the cache holds already, or else just these bytes from the device, so that a
    // lookup never pulls a whole block in nor takes the place of a block a walk is using.
    bool readAlone(std::int64_t offset, std::span<std::uint8_t> out);
    // The same straight from the device, past the cache: for a walk that reads each stretch once.
    // Where the device is a plain file or block device, several threads read at once.
    bool readThrough(std::int64_t offset, std::span<std::uint8_t> out);
    // True when readThrough, and the reads of the device that decoding a record leads to, may run
    // on several threads at once: the device is a plain file or block device, read by position.
    bool concurrentReads() const { return m_mappable; }
    // The device's byte position of the view's byte `offset`; below 0 for a skipped piece or an
    // offset outside the view.
    std::int64_t devicePosition(std::int64_t offset) const;

    // The scan keeps, for each record it lists, a keyed digest of the record as it was listed (fixed
    // up), so that Wipe can tell whether the record on the volume is still that one without holding
    // a copy of every listed record.
    using Digest = std::array<std::uint64_t, 2>;
    void rememberListed(std::int64_t offset, std::span<const std::uint8_t> record);
    // The same with the record's digest made already (on the thread that examined it).
    void rememberListed(std::int64_t offset, const Digest& digest);
    // The digest rememberListed keeps of `record`; safe from any thread.
    Digest digest(std::span<const std::uint8_t> record) const;
    // True when `record` (fixed up) is the record the scan listed at `offset`. A view held in memory
    // has its listed records themselves to compare with.
    bool sameAsListed(std::int64_t offset, std::span<const std::uint8_t> record);
    std::size_t listedCount() const { return m_listed.size(); }

private:
    struct Block
    {
        std::int64_t index = -1;
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        PageBytes bytes; // read into from the device
        std::uint64_t lastUse = 0;
    };

    // The next block of a walk, read on a thread of its own while the walk examines the one before:
    // on two cores the copying of the $MFT out of the system's cache and the decoding overlap.
    struct ReadAhead
    {
        std::int64_t index = -1;
        PageBytes bytes;
        std::future<bool> whole; // false when some read failed: the block is then read again here
    };

    // Zeros and false for bytes not wholly inside the view; a copy for a view held in memory;
    // nothing when the bytes are to be read from the device.
    std::optional<bool> readOutsideOrHeld(std::int64_t offset, std::span<std::uint8_t> out) const;
    const Block* block(std::int64_t index);
    void fill(Block& b, std::int64_t index);
    std::vector<Stretch> stretches(std::int64_t first, std::size_t length) const;
    void readPieces(std::int64_t first, std::span<std::uint8_t> out);
    void startReadAhead(std::int64_t index);
    void dropReadAhead();
    void release(Block& b);
    void releaseAll();

    std::shared_ptr<SectorDevice> m_device;
    std::vector<Piece> m_pieces;
    std::vector<std::int64_t> m_pieceStarts; // view offset of each piece
    std::vector<std::uint8_t> m_memory; // the bytes of a view held in memory
    std::int64_t m_size = 0;
    bool m_mappable = false;
    MappableFile m_file;

    std::mutex m_lock; // over the cache, and over reads of a device that is not read by position
    std::vector<Block> m_blocks;
    std::size_t m_lastBlock = 0;
    std::uint64_t m_uses = 0;
    std::int64_t m_lastMiss = -2;
    std::unique_ptr<ReadAhead> m_ahead;

    // By offset, in blocks: a table of millions never needs one large block, nor a copy of itself
    // while it grows.
    std::deque<std::pair<std::int64_t, Digest>> m_listed;
    std::array<std::uint64_t, 2> m_key{};
};

} // namespace orv
