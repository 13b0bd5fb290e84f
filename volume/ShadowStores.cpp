#include "volume/ShadowStores.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <libbfio.h>
#include <libvshadow.h>

namespace orv {

namespace {

// libvshadow is loaded when a volume is first asked for its copies, never linked. The container
// libraries (libewf, libvhdi, libqcow) carry copies of libbfio of their own and export them; with
// the system's libbfio linked beside them, their calls land half in one copy and half in the other,
// and opening an E01 crashes. Loaded locally, libvshadow binds to whichever libbfio the process
// already has (or to its own when there is none), and so do we, through the same lookup.
struct Vshadow
{
    bool loaded = false;
    decltype(&libbfio_handle_initialize) handleInitialize = nullptr;
    decltype(&libbfio_handle_free) handleFree = nullptr;
    decltype(&libvshadow_check_volume_signature_file_io_handle) checkSignature = nullptr;
    decltype(&libvshadow_volume_initialize) volumeInitialize = nullptr;
    decltype(&libvshadow_volume_open_file_io_handle) volumeOpen = nullptr;
    decltype(&libvshadow_volume_close) volumeClose = nullptr;
    decltype(&libvshadow_volume_free) volumeFree = nullptr;
    decltype(&libvshadow_volume_get_number_of_stores) storeCount = nullptr;
    decltype(&libvshadow_volume_get_store) getStore = nullptr;
    decltype(&libvshadow_store_free) storeFree = nullptr;
    decltype(&libvshadow_store_has_in_volume_data) inVolume = nullptr;
    decltype(&libvshadow_store_read_buffer_at_offset) readAt = nullptr;
    decltype(&libvshadow_store_get_volume_size) volumeSize = nullptr;
    decltype(&libvshadow_store_get_identifier) identifier = nullptr;
    decltype(&libvshadow_store_get_creation_time) creationTime = nullptr;
    decltype(&libvshadow_store_get_number_of_blocks) blockCount = nullptr;
    decltype(&libvshadow_store_get_block_by_index) getBlock = nullptr;
    decltype(&libvshadow_block_get_values) blockValues = nullptr;
    decltype(&libvshadow_block_free) blockFree = nullptr;
    decltype(&libvshadow_error_sprint) errorSprint = nullptr;
    decltype(&libvshadow_error_free) errorFree = nullptr;
};

template <typename Function>
bool take(void* library, const char* name, Function& into)
{
    // The process's own definition first, as the library's references are bound.
    void* found = ::dlsym(RTLD_DEFAULT, name);
    if (!found)
        found = ::dlsym(library, name);
    into = reinterpret_cast<Function>(found);
    return found != nullptr;
}

const Vshadow& vshadow()
{
    static const Vshadow api = [] {
        Vshadow v;
        void* library = ::dlopen("libvshadow.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return v;
        v.loaded = take(library, "libbfio_handle_initialize", v.handleInitialize) &&
            take(library, "libbfio_handle_free", v.handleFree) &&
            take(library, "libvshadow_check_volume_signature_file_io_handle", v.checkSignature) &&
            take(library, "libvshadow_volume_initialize", v.volumeInitialize) &&
            take(library, "libvshadow_volume_open_file_io_handle", v.volumeOpen) &&
            take(library, "libvshadow_volume_close", v.volumeClose) &&
            take(library, "libvshadow_volume_free", v.volumeFree) &&
            take(library, "libvshadow_volume_get_number_of_stores", v.storeCount) &&
            take(library, "libvshadow_volume_get_store", v.getStore) &&
            take(library, "libvshadow_store_free", v.storeFree) &&
            take(library, "libvshadow_store_has_in_volume_data", v.inVolume) &&
            take(library, "libvshadow_store_read_buffer_at_offset", v.readAt) &&
            take(library, "libvshadow_store_get_volume_size", v.volumeSize) &&
            take(library, "libvshadow_store_get_identifier", v.identifier) &&
            take(library, "libvshadow_store_get_creation_time", v.creationTime) &&
            take(library, "libvshadow_store_get_number_of_blocks", v.blockCount) &&
            take(library, "libvshadow_store_get_block_by_index", v.getBlock) &&
            take(library, "libvshadow_block_get_values", v.blockValues) &&
            take(library, "libvshadow_block_free", v.blockFree) &&
            take(library, "libvshadow_error_sprint", v.errorSprint) &&
            take(library, "libvshadow_error_free", v.errorFree);
        return v;
    }();
    return api;
}

// The volume's bytes as libvshadow reads them: a file-like handle with its own position over our
// device. libbfio copies and frees it through these functions.
struct VolumeIo
{
    std::shared_ptr<SectorDevice> device;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
};

VolumeIo* ioOf(intptr_t* handle)
{
    return reinterpret_cast<VolumeIo*>(handle);
}

int freeIo(intptr_t** handle, libbfio_error_t**)
{
    if (handle) {
        delete ioOf(*handle);
        *handle = nullptr;
    }
    return 1;
}

int cloneIo(intptr_t** destination, intptr_t* source, libbfio_error_t**)
{
    if (!destination || !source)
        return -1;
    *destination = reinterpret_cast<intptr_t*>(new VolumeIo(*ioOf(source)));
    return 1;
}

int openIo(intptr_t*, int accessFlags, libbfio_error_t**)
{
    // Shadow copies are only ever read.
    return (accessFlags & LIBBFIO_ACCESS_FLAG_WRITE) ? -1 : 1;
}

int closeIo(intptr_t*, libbfio_error_t**)
{
    return 0;
}

ssize_t readIo(intptr_t* handle, std::uint8_t* buffer, std::size_t size, libbfio_error_t**)
{
    VolumeIo* io = ioOf(handle);
    if (!io || !buffer)
        return -1;
    if (io->position >= io->size)
        return 0;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, io->size - io->position));
    if (!io->device->read(io->position, std::span(buffer, take)))
        return -1;
    io->position += take;
    return static_cast<ssize_t>(take);
}

ssize_t writeIo(intptr_t*, const std::uint8_t*, std::size_t, libbfio_error_t**)
{
    return -1;
}

off64_t seekIo(intptr_t* handle, off64_t offset, int whence, libbfio_error_t**)
{
    VolumeIo* io = ioOf(handle);
    if (!io)
        return -1;
    std::int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<std::int64_t>(io->position);
    else if (whence == SEEK_END)
        base = static_cast<std::int64_t>(io->size);
    else if (whence != SEEK_SET)
        return -1;
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, static_cast<std::int64_t>(offset), &target) || target < 0)
        return -1;
    io->position = static_cast<std::uint64_t>(target);
    return static_cast<off64_t>(target);
}

int existsIo(intptr_t*, libbfio_error_t**)
{
    return 1;
}

int isOpenIo(intptr_t*, libbfio_error_t**)
{
    return 1;
}

int sizeIo(intptr_t* handle, size64_t* size, libbfio_error_t**)
{
    if (!handle || !size)
        return -1;
    *size = ioOf(handle)->size;
    return 1;
}

// The opened catalogue: every store device holds it, and reads through it one at a time (the
// library keeps a position and caches of its own).
class ShadowVolume
{
public:
    ShadowVolume() = default;
    ShadowVolume(const ShadowVolume&) = delete;
    ShadowVolume& operator=(const ShadowVolume&) = delete;
    ~ShadowVolume()
    {
        if (m_volume) {
            vshadow().volumeClose(m_volume, nullptr);
            vshadow().volumeFree(&m_volume, nullptr);
        }
        if (m_io)
            vshadow().handleFree(&m_io, nullptr);
    }

    libvshadow_volume_t* m_volume = nullptr;
    libbfio_handle_t* m_io = nullptr;
    std::mutex m_reading;
};

class ShadowStoreDevice final : public SectorDevice
{
public:
    ShadowStoreDevice(std::shared_ptr<ShadowVolume> volume, libvshadow_store_t* store, std::uint64_t size)
        : m_volume(std::move(volume)), m_store(store), m_size(size)
    {}
    ~ShadowStoreDevice() override
    {
        const std::lock_guard lock(m_volume->m_reading);
        vshadow().storeFree(&m_store, nullptr);
    }
    ShadowStoreDevice(const ShadowStoreDevice&) = delete;
    ShadowStoreDevice& operator=(const ShadowStoreDevice&) = delete;

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override
    {
        if (bytePosition > m_size || out.size() > m_size - bytePosition)
            return false;
        const std::lock_guard lock(m_volume->m_reading);
        std::size_t done = 0;
        while (done < out.size()) {
            const std::size_t piece = std::min<std::size_t>(out.size() - done, std::size_t{16} << 20);
            libvshadow_error_t* error = nullptr;
            const ssize_t got =
                vshadow().readAt(m_store, out.data() + done, piece, static_cast<off64_t>(bytePosition + done), &error);
            if (error)
                vshadow().errorFree(&error);
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    std::optional<std::uint64_t> size() override { return m_size; }
    bool readOnly() const override { return true; }

private:
    std::shared_ptr<ShadowVolume> m_volume;
    libvshadow_store_t* m_store;
    std::uint64_t m_size;
};

std::string guidText(const std::array<std::uint8_t, 16>& g)
{
    // The first three groups are stored little-endian, the last two as bytes.
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text.data();
}

std::string takeError(libvshadow_error_t* error)
{
    if (!error)
        return "unknown error";
    std::array<char, 512> text{};
    vshadow().errorSprint(error, text.data(), text.size());
    vshadow().errorFree(&error);
    std::string message(text.data());
    if (const auto newline = message.find('\n'); newline != std::string::npos)
        message.resize(newline);
    return message;
}

// Every volume block one store keeps (its old content, or where it forwards a read), as byte ranges;
// nothing when its block list cannot be read.
std::optional<std::vector<ByteRange>> keptBlocks(const Vshadow& api, libvshadow_store_t* store)
{
    constexpr std::uint64_t kBlockBytes = 16384; // a store keeps the volume in blocks of 16 KiB
    int count = 0;
    if (api.blockCount(store, &count, nullptr) != 1 || count < 0)
        return std::nullopt;
    std::vector<ByteRange> ranges;
    ranges.reserve(static_cast<std::size_t>(count) * 2);
    for (int index = 0; index < count; ++index) {
        libvshadow_block_t* block = nullptr;
        if (api.getBlock(store, index, &block, nullptr) != 1 || !block)
            return std::nullopt;
        off64_t original = 0, relative = 0, offset = 0;
        std::uint32_t flags = 0, sectors = 0;
        const int got = api.blockValues(block, &original, &relative, &offset, &flags, &sectors, nullptr);
        api.blockFree(&block, nullptr);
        if (got != 1)
            return std::nullopt;
        for (const off64_t at : {original, relative})
            if (at >= 0)
                ranges.push_back({static_cast<std::uint64_t>(at) / kBlockBytes * kBlockBytes, kBlockBytes});
    }
    return ranges;
}

void mergeRanges(std::vector<ByteRange>& ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
    std::vector<ByteRange> merged;
    for (const ByteRange& range : ranges) {
        if (!merged.empty() && range.first <= merged.back().first + merged.back().count) {
            const std::uint64_t end = std::max(merged.back().first + merged.back().count, range.first + range.count);
            merged.back().count = end - merged.back().first;
        } else {
            merged.push_back(range);
        }
    }
    ranges = std::move(merged);
}

} // namespace

bool meetsRanges(const std::vector<ByteRange>& ranges, std::uint64_t first, std::uint64_t count)
{
    if (count == 0)
        return false;
    // The last range that starts before the end of [first, first + count).
    auto after = std::upper_bound(ranges.begin(), ranges.end(), first + (count - 1),
                                  [](std::uint64_t at, const ByteRange& range) { return at < range.first; });
    if (after == ranges.begin())
        return false;
    const ByteRange& range = *std::prev(after);
    return range.count > 0 && range.first + (range.count - 1) >= first;
}

ShadowStores openShadowStores(const std::shared_ptr<SectorDevice>& volume, std::uint64_t volumeBytes)
{
    ShadowStores found;
    if (!volume || volumeBytes == 0)
        return found;
    if (const auto size = volume->size())
        volumeBytes = std::min(volumeBytes, *size);
    const Vshadow& api = vshadow();
    if (!api.loaded) {
        found.problem = "libvshadow cannot be loaded";
        return found;
    }

    auto shadow = std::make_shared<ShadowVolume>();
    auto* io = new VolumeIo{volume, volumeBytes, 0};
    if (api.handleInitialize(&shadow->m_io, reinterpret_cast<intptr_t*>(io), freeIo, cloneIo, openIo, closeIo, readIo,
                             writeIo, seekIo, existsIo, isOpenIo, sizeIo,
                             LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION, nullptr) != 1) {
        delete io;
        return found;
    }
    libvshadow_error_t* error = nullptr;
    // Most volumes have no catalogue at all: its signature says so without more reading.
    const int signed_ = api.checkSignature(shadow->m_io, &error);
    if (signed_ != 1) {
        if (error)
            vshadow().errorFree(&error);
        return found;
    }
    if (api.volumeInitialize(&shadow->m_volume, &error) != 1) {
        found.problem = takeError(error);
        return found;
    }
    if (api.volumeOpen(shadow->m_volume, shadow->m_io, LIBVSHADOW_OPEN_READ, &error) != 1) {
        found.problem = takeError(error);
        api.volumeFree(&shadow->m_volume, nullptr);
        return found;
    }
    int count = 0;
    if (api.storeCount(shadow->m_volume, &count, &error) != 1) {
        found.problem = takeError(error);
        return found;
    }
    std::vector<std::size_t> catalogueIndex; // of each entry of found.stores
    // What each store keeps, in the catalogue's order, in which a read falls through.
    std::vector<std::optional<std::vector<ByteRange>>> kept;
    for (int index = 0; index < count; ++index) {
        libvshadow_store_t* store = nullptr;
        if (api.getStore(shadow->m_volume, index, &store, &error) != 1 || !store) {
            found.problem = takeError(error);
            error = nullptr;
            kept.push_back(std::nullopt);
            continue;
        }
        ShadowStore entry;
        {
            const std::lock_guard lock(shadow->m_reading);
            kept.push_back(keptBlocks(api, store));
        }
        std::uint64_t fileTime = 0;
        if (api.creationTime(store, &fileTime, nullptr) == 1)
            entry.creationTime = fileTime;
        std::array<std::uint8_t, 16> guid{};
        if (api.identifier(store, guid.data(), guid.size(), nullptr) == 1)
            entry.identifier = guidText(guid);
        size64_t storeBytes = 0;
        const bool sized = api.volumeSize(store, &storeBytes, nullptr) == 1 && storeBytes > 0;
        if (api.inVolume(store, nullptr) == 1 && sized) {
            entry.device = std::make_shared<ShadowStoreDevice>(shadow, store, storeBytes);
        } else {
            ++found.elsewhere;
            const std::lock_guard lock(shadow->m_reading);
            api.storeFree(&store, nullptr);
        }
        found.stores.push_back(std::move(entry));
        catalogueIndex.push_back(kept.size() - 1);
    }
    for (std::size_t i = 0; i < found.stores.size(); ++i) {
        std::vector<ByteRange> changed;
        bool known = true;
        for (std::size_t k = catalogueIndex[i]; k < kept.size() && known; ++k) {
            known = kept[k].has_value();
            if (known)
                changed.insert(changed.end(), kept[k]->begin(), kept[k]->end());
        }
        if (known) {
            mergeRanges(changed);
            found.stores[i].changed = std::move(changed);
        }
    }
    // Numbered from the oldest: the catalogue's order is its own.
    std::stable_sort(found.stores.begin(), found.stores.end(),
                     [](const ShadowStore& a, const ShadowStore& b) { return a.creationTime < b.creationTime; });
    for (std::size_t i = 0; i < found.stores.size(); ++i)
        found.stores[i].number = static_cast<int>(i + 1);
    return found;
}

std::string utcIsoText(std::uint64_t fileTime)
{
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600; // 1601-01-01 to 1970-01-01
    const auto seconds = static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds;
    const auto t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&t, &utc))
        return {};
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

} // namespace orv
