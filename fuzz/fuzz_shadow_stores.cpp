// The shadow copies of a volume whose catalogue, store headers and block lists are the input: a
// volume of 5 GiB that holds, at the places the input names, the bytes it gives, and zeros
// elsewhere. Each input chunk is an 8-byte little-endian volume offset, a 4-byte length and the
// bytes. Whatever the structures say, opening the copies and reading them must stay inside our
// buffers and end; a store is a read-only device of the volume's size.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "platform/SectorDevice.h"
#include "volume/ShadowStores.h"

using orv::fuzz::require;

namespace {

constexpr std::uint64_t kVolumeBytes = 5333057536; // the Windows-made volume the seeds come from

class SparseVolume final : public orv::SectorDevice
{
public:
    void put(std::uint64_t at, const std::uint8_t* bytes, std::size_t count)
    {
        if (at >= kVolumeBytes)
            return;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, kVolumeBytes - at));
        m_chunks[at].assign(bytes, bytes + count);
    }
    bool read(std::uint64_t at, std::span<std::uint8_t> out) override
    {
        if (at > kVolumeBytes || out.size() > kVolumeBytes - at)
            return false;
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        for (const auto& [start, bytes] : m_chunks) {
            const std::uint64_t end = start + bytes.size();
            if (end <= at || start >= at + out.size())
                continue;
            const std::uint64_t from = std::max(start, at), to = std::min<std::uint64_t>(end, at + out.size());
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from - start),
                      bytes.begin() + static_cast<std::ptrdiff_t>(to - start),
                      out.begin() + static_cast<std::ptrdiff_t>(from - at));
        }
        return true;
    }
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    std::optional<std::uint64_t> size() override { return kVolumeBytes; }

private:
    std::map<std::uint64_t, std::vector<std::uint8_t>> m_chunks;
};

std::uint64_t le(const std::uint8_t* p, int width)
{
    std::uint64_t value = 0;
    for (int i = width; i-- > 0;)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto volume = std::make_shared<SparseVolume>();
    std::size_t at = 0;
    while (size - at >= 12) {
        const std::uint64_t offset = le(data + at, 8);
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(le(data + at + 8, 4), size - at - 12));
        volume->put(offset, data + at + 12, length);
        at += 12 + length;
    }

    const orv::ShadowStores stores = orv::openShadowStores(volume, kVolumeBytes);
    require(stores.elsewhere >= 0 && static_cast<std::size_t>(stores.elsewhere) <= stores.stores.size(),
            "more copies elsewhere than copies");
    int number = 0;
    std::uint64_t previous = 0;
    for (const orv::ShadowStore& store : stores.stores) {
        require(store.number == ++number, "copies not numbered 1, 2, 3...");
        require(store.creationTime >= previous, "copies not ordered from the oldest");
        previous = store.creationTime;
        if (!store.device)
            continue;
        require(store.device->readOnly(), "a shadow copy can be written");
        const auto bytes = store.device->size();
        require(bytes.has_value() && *bytes > 0, "a shadow copy without a size");
        // Its first bytes, a block on each side of its middle, its last bytes, and past its end.
        std::vector<std::uint8_t> block(32768);
        for (const std::uint64_t where :
             {std::uint64_t{0}, *bytes / 2 / 16384 * 16384, *bytes - std::min<std::uint64_t>(*bytes, block.size())})
            store.device->read(
                where,
                std::span(block.data(),
                          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), *bytes - where))));
        require(!store.device->read(*bytes, std::span(block.data(), 1)), "a read past a shadow copy's end succeeded");
        if (store.changed)
            for (std::size_t i = 1; i < store.changed->size(); ++i)
                require((*store.changed)[i - 1].first + (*store.changed)[i - 1].count < (*store.changed)[i].first,
                        "kept blocks not sorted and merged");
    }
    return 0;
}
