#include "ntfs/MftView.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <system_error>

#include "base/FdTransfer.h"
#include "ntfs/MftRecord.h"

namespace orv {

namespace {

// A block is what one read or one mapping brings in; the cache holds a few, so that a folder's
// record read again and again during a scan, or the records of the folder shown in the results
// window, are not fetched each time, and so that memory stays a few megabytes whatever the $MFT.
constexpr std::int64_t kBlockBytes = 1024 * 1024;
constexpr std::size_t kCachedBlocks = 16;
// A failed read is tried again in pieces this small, so a bad sector costs only the records on it.
constexpr std::int64_t kRetryBytes = 64 * 1024;
// A walk through the view asks the system for the blocks ahead of it, so that the disk reads them
// while the records before them are examined.
constexpr std::int64_t kReadAheadBlocks = 4;
constexpr std::size_t kBytesInUse = 0x18; // u32 in a record's header: the bytes of the record in use

std::uint64_t rotl(std::uint64_t x, int b)
{
    return (x << b) | (x >> (64 - b));
}

struct SipState
{
    std::uint64_t v0, v1, v2, v3;
    void round()
    {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
};

// Little-endian word of up to 8 bytes.
std::uint64_t load64(const std::uint8_t* p, std::size_t count)
{
    std::uint64_t value = 0;
    std::memcpy(&value, p, count);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value) >> (8 * (8 - count));
    return value;
}

std::uint32_t load32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

// A key of this process's own: nobody who can write the volume can make a changed record that
// digests like the listed one.
const std::array<std::uint64_t, 2>& processKey()
{
    static const std::array<std::uint64_t, 2> key = [] {
        std::random_device device;
        std::array<std::uint64_t, 2> k{};
        for (auto& word : k)
            word = (std::uint64_t{device()} << 32) ^ device();
        return k;
    }();
    return key;
}

// Reads the stretches of a view from the file behind the device, by position, so from any thread.
// With `retry`, a failed read is tried again in small parts and what still fails reads as zeros;
// without, the first failure ends it. False when some read failed.
bool readFromFile(const MappableFile& file, std::span<const MftView::Stretch> parts, std::span<std::uint8_t> out,
                  bool retry)
{
    const auto readAt = [&](std::uint64_t position, std::span<std::uint8_t> into) {
        return position <= file.size && into.size() <= file.size - position &&
            readAllAt(file.fd, file.offset + position, into);
    };
    bool whole = true;
    std::size_t done = 0;
    for (const MftView::Stretch& stretch : parts) {
        const auto into = out.subspan(done, stretch.length);
        done += stretch.length;
        if (stretch.position < 0) {
            std::fill(into.begin(), into.end(), std::uint8_t{0});
            continue;
        }
        const auto position = static_cast<std::uint64_t>(stretch.position);
        if (readAt(position, into))
            continue;
        whole = false;
        if (!retry)
            return false;
        for (std::size_t part = 0; part < into.size(); part += static_cast<std::size_t>(kRetryBytes)) {
            const auto small = into.subspan(part, std::min(into.size() - part, static_cast<std::size_t>(kRetryBytes)));
            if (!readAt(position + part, small))
                std::fill(small.begin(), small.end(), std::uint8_t{0});
        }
    }
    return whole;
}

} // namespace

MftView::MftView(MftView&& other) noexcept
{
    *this = std::move(other);
}

MftView& MftView::operator=(MftView&& other) noexcept
{
    if (this != &other) {
        releaseAll();
        other.dropReadAhead();
        m_device = std::move(other.m_device);
        m_pieces = std::move(other.m_pieces);
        m_pieceStarts = std::move(other.m_pieceStarts);
        m_memory = std::move(other.m_memory);
        m_size = std::exchange(other.m_size, 0);
        m_mappable = std::exchange(other.m_mappable, false);
        m_file = other.m_file;
        m_blocks = std::move(other.m_blocks);
        other.m_blocks.clear();
        m_lastBlock = std::exchange(other.m_lastBlock, 0);
        m_uses = other.m_uses;
        m_lastMiss = other.m_lastMiss;
        m_ahead = std::move(other.m_ahead);
        m_listed = std::move(other.m_listed);
        other.m_listed.clear();
    }
    return *this;
}

MftView::~MftView()
{
    releaseAll();
}

void MftView::release(Block& b)
{
    b.data = nullptr;
    b.length = 0;
    b.index = -1;
}

void MftView::releaseAll()
{
    dropReadAhead();
    for (Block& b : m_blocks)
        release(b);
    m_blocks.clear();
    m_lastBlock = 0;
}

void MftView::clear()
{
    releaseAll();
    m_device.reset();
    m_pieces.clear();
    m_pieceStarts.clear();
    m_memory = {};
    m_size = 0;
    m_mappable = false;
    m_lastMiss = -2;
    m_listed = {};
}

void MftView::open(std::shared_ptr<SectorDevice> device, std::vector<Piece> pieces)
{
    clear();
    m_device = std::move(device);
    for (const Piece& piece : pieces) {
        if (piece.length <= 0)
            continue;
        m_pieceStarts.push_back(m_size);
        m_pieces.push_back(piece);
        m_size += piece.length;
    }
    if (m_device)
        if (const auto file = m_device->mappable(); file && file->fd >= 0) {
            m_file = *file;
            m_mappable = true;
        }
    m_blocks.reserve(kCachedBlocks);
}

void MftView::assign(std::vector<std::uint8_t> bytes)
{
    clear();
    m_memory = std::move(bytes);
    m_size = static_cast<std::int64_t>(m_memory.size());
}

std::int64_t MftView::devicePosition(std::int64_t offset) const
{
    if (offset < 0 || offset >= m_size || m_pieces.empty())
        return -1;
    const auto at = std::upper_bound(m_pieceStarts.begin(), m_pieceStarts.end(), offset) - 1;
    const Piece& piece = m_pieces[static_cast<std::size_t>(at - m_pieceStarts.begin())];
    return piece.position < 0 ? -1 : piece.position + (offset - *at);
}

std::vector<MftView::Stretch> MftView::stretches(std::int64_t first, std::size_t length) const
{
    std::vector<Stretch> out;
    if (m_pieces.empty() || length == 0)
        return out;
    auto at = std::upper_bound(m_pieceStarts.begin(), m_pieceStarts.end(), first) - 1;
    std::size_t done = 0;
    for (auto i = static_cast<std::size_t>(at - m_pieceStarts.begin()); i < m_pieces.size() && done < length; ++i) {
        const Piece& piece = m_pieces[i];
        const std::int64_t within = first + static_cast<std::int64_t>(done) - m_pieceStarts[i];
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(piece.length - within, static_cast<std::int64_t>(length - done)));
        out.push_back({piece.position < 0 ? -1 : piece.position + within, count});
        done += count;
    }
    if (done < length)
        out.push_back({-1, length - done});
    return out;
}

void MftView::readPieces(std::int64_t first, std::span<std::uint8_t> out)
{
    // Every byte is written once: read, or zeroed where it cannot be. A block is not cleared before
    // it is read over, which on a large $MFT cost as much as the reading.
    std::size_t done = 0;
    for (const Stretch& stretch : stretches(first, out.size())) {
        const auto into = out.subspan(done, stretch.length);
        done += stretch.length;
        if (stretch.position < 0 || !m_device) {
            std::fill(into.begin(), into.end(), std::uint8_t{0}); // a skipped piece reads as zeros
            continue;
        }
        const auto position = static_cast<std::uint64_t>(stretch.position);
        if (m_device->read(position, into))
            continue;
        for (std::size_t part = 0; part < into.size(); part += static_cast<std::size_t>(kRetryBytes)) {
            const auto small = into.subspan(part, std::min(into.size() - part, static_cast<std::size_t>(kRetryBytes)));
            if (!m_device->read(position + part, small))
                std::fill(small.begin(), small.end(), std::uint8_t{0});
        }
    }
}

void MftView::startReadAhead(std::int64_t index)
{
    const std::int64_t first = index * kBlockBytes;
    if (!m_mappable || first >= m_size)
        return;
    for (const Block& b : m_blocks)
        if (b.index == index)
            return; // held already
    dropReadAhead();
    if (!m_ahead)
        m_ahead = std::make_unique<ReadAhead>();
    m_ahead->index = index;
    m_ahead->bytes.resize(static_cast<std::size_t>(kBlockBytes));
    const auto length = static_cast<std::size_t>(std::min(kBlockBytes, m_size - first));
    // The thread reads the file's descriptor at positions worked out here and writes only into the
    // buffer it was given; a plain file or block device is read by position, safely from any thread.
    std::span<std::uint8_t> out(m_ahead->bytes.data(), length);
    const auto readBlock = [file = m_file, parts = stretches(first, length), out]() {
        return readFromFile(file, parts, out, false);
    };
    try {
        m_ahead->whole = std::async(std::launch::async, readBlock);
    } catch (const std::system_error&) {
        m_ahead->index = -1; // no thread to be had (a process limit): the walk reads each block itself
    }
}

void MftView::dropReadAhead()
{
    if (m_ahead && m_ahead->whole.valid())
        m_ahead->whole.wait(); // its buffer may not go while the thread writes into it
    if (m_ahead)
        m_ahead->index = -1;
}

void MftView::fill(Block& b, std::int64_t index)
{
    release(b);
    const std::int64_t first = index * kBlockBytes;
    const std::int64_t length = std::min(kBlockBytes, m_size - first);
    const bool anticipated = m_ahead && m_ahead->index == index && m_ahead->whole.valid();
    const bool walking = anticipated || index == m_lastMiss + 1;
    if (m_mappable && walking) {
        // The walk goes on: have the system read what comes next while this block is examined.
        const std::int64_t ahead = devicePosition(first + length);
        if (ahead >= 0)
            ::posix_fadvise(m_file.fd, static_cast<off_t>(m_file.offset + static_cast<std::uint64_t>(ahead)),
                            static_cast<off_t>(kReadAheadBlocks * kBlockBytes), POSIX_FADV_WILLNEED);
    }
    m_lastMiss = index;
    bool read = false;
    if (anticipated) {
        read = m_ahead->whole.get();
        m_ahead->index = -1;
        if (read)
            b.bytes.swap(m_ahead->bytes);
    }
    if (!read) {
        b.bytes.resize(static_cast<std::size_t>(kBlockBytes));
        readPieces(first, std::span(b.bytes).first(static_cast<std::size_t>(length)));
    }
    b.data = b.bytes.data();
    b.length = static_cast<std::size_t>(length);
    b.index = index;
    // A jump elsewhere (a folder's record looked up during the walk) leaves the block read ahead for
    // the walk where it is.
    if (walking)
        startReadAhead(index + 1);
}

const MftView::Block* MftView::block(std::int64_t index)
{
    ++m_uses;
    if (m_lastBlock < m_blocks.size() && m_blocks[m_lastBlock].index == index) {
        m_blocks[m_lastBlock].lastUse = m_uses;
        return &m_blocks[m_lastBlock];
    }
    for (std::size_t i = 0; i < m_blocks.size(); ++i)
        if (m_blocks[i].index == index) {
            m_lastBlock = i;
            m_blocks[i].lastUse = m_uses;
            return &m_blocks[i];
        }
    std::size_t slot = m_blocks.size();
    if (m_blocks.size() < kCachedBlocks) {
        m_blocks.emplace_back();
    } else {
        slot = static_cast<std::size_t>(
            std::min_element(m_blocks.begin(), m_blocks.end(),
                             [](const Block& a, const Block& b) { return a.lastUse < b.lastUse; }) -
            m_blocks.begin());
    }
    fill(m_blocks[slot], index);
    m_blocks[slot].lastUse = m_uses;
    m_lastBlock = slot;
    return &m_blocks[slot];
}

std::optional<bool> MftView::readOutsideOrHeld(std::int64_t offset, std::span<std::uint8_t> out) const
{
    if (offset < 0 || offset > m_size || static_cast<std::int64_t>(out.size()) > m_size - offset) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    }
    if (!m_memory.empty()) {
        std::copy_n(m_memory.begin() + offset, out.size(), out.begin());
        return true;
    }
    return std::nullopt;
}

bool MftView::read(std::int64_t offset, std::span<std::uint8_t> out)
{
    if (const auto done = readOutsideOrHeld(offset, out))
        return *done;
    const std::lock_guard lock(m_lock);
    std::size_t done = 0;
    while (done < out.size()) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        const Block* b = block(at / kBlockBytes);
        const auto within = static_cast<std::size_t>(at % kBlockBytes);
        const std::size_t count = std::min(out.size() - done, b->length - within);
        std::copy_n(b->data + within, count, out.begin() + static_cast<std::ptrdiff_t>(done));
        done += count;
    }
    return true;
}

bool MftView::readAlone(std::int64_t offset, std::span<std::uint8_t> out)
{
    if (const auto done = readOutsideOrHeld(offset, out))
        return *done;
    {
        const std::lock_guard lock(m_lock);
        const std::int64_t index = offset / kBlockBytes;
        const auto within = static_cast<std::size_t>(offset % kBlockBytes);
        for (const Block& b : m_blocks)
            if (b.index == index && within + out.size() <= b.length) {
                std::copy_n(b.data + within, out.size(), out.begin());
                return true;
            }
    }
    return readThrough(offset, out);
}

bool MftView::readThrough(std::int64_t offset, std::span<std::uint8_t> out)
{
    if (const auto done = readOutsideOrHeld(offset, out))
        return *done;
    if (m_mappable) {
        readFromFile(m_file, stretches(offset, out.size()), out, true);
        return true;
    }
    const std::lock_guard lock(m_lock);
    readPieces(offset, out);
    return true;
}

MftView::Digest MftView::digest(std::span<const std::uint8_t> full) const
{
    // The bytes the record says it uses (its header and attributes, up to the end marker): what
    // lies past them is slack that names nothing. Their count is digested with them.
    std::span<const std::uint8_t> record = full;
    if (full.size() >= kBytesInUse + 4) {
        const std::uint32_t inUse = load32(full.data() + kBytesInUse);
        if (inUse >= kBytesInUse + 4 && inUse < full.size())
            record = full.first(inUse);
    }
    // SipHash-1-3 with its 128-bit output: keyed, so a record made to collide cannot be planned, and
    // quick enough to digest every listed record while the scan runs.
    const auto& key = processKey();
    SipState s{key[0] ^ 0x736f6d6570736575ull, key[1] ^ 0x646f72616e646f6dull ^ 0xee, key[0] ^ 0x6c7967656e657261ull,
               key[1] ^ 0x7465646279746573ull};
    const std::size_t whole = record.size() / 8 * 8;
    for (std::size_t at = 0; at < whole; at += 8) {
        const std::uint64_t m = load64(record.data() + at, 8);
        s.v3 ^= m;
        s.round();
        s.v0 ^= m;
    }
    const std::uint64_t last =
        (std::uint64_t{record.size()} << 56) | load64(record.data() + whole, record.size() - whole);
    s.v3 ^= last;
    s.round();
    s.v0 ^= last;
    s.v2 ^= 0xee;
    for (int i = 0; i < 3; ++i)
        s.round();
    Digest out{};
    out[0] = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
    s.v1 ^= 0xdd;
    for (int i = 0; i < 3; ++i)
        s.round();
    out[1] = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
    return out;
}

void MftView::rememberListed(std::int64_t offset, std::span<const std::uint8_t> record)
{
    // The scans list records in increasing offset order; a hard link lists one record again.
    if (!m_listed.empty() && m_listed.back().first == offset)
        return;
    rememberListed(offset, digest(record));
}

void MftView::rememberListed(std::int64_t offset, const Digest& d)
{
    if (!m_listed.empty() && m_listed.back().first == offset)
        return;
    if (m_listed.empty() || m_listed.back().first < offset) {
        m_listed.emplace_back(offset, d);
        return;
    }
    const auto at = std::lower_bound(m_listed.begin(), m_listed.end(), offset,
                                     [](const auto& entry, std::int64_t o) { return entry.first < o; });
    if (at != m_listed.end() && at->first == offset)
        at->second = d;
    else
        m_listed.insert(at, {offset, d});
}

bool MftView::sameAsListed(std::int64_t offset, std::span<const std::uint8_t> record)
{
    const auto at = std::lower_bound(m_listed.begin(), m_listed.end(), offset,
                                     [](const auto& entry, std::int64_t o) { return entry.first < o; });
    if (at != m_listed.end() && at->first == offset)
        return at->second == digest(record);
    if (m_memory.empty())
        return false; // not listed by the scan: nothing to say it is the file the user chose
    std::vector<std::uint8_t> held(record.size());
    if (!read(offset, held))
        return false;
    ApplyRecordFixups(held);
    return std::equal(held.begin(), held.end(), record.begin(), record.end());
}

} // namespace orv
