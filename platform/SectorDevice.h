#pragma once

#include <sys/types.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orv {

// A stretch of a device's bytes, such as the partition a volume occupies on a disk.
struct ByteRange
{
    std::uint64_t first = 0;
    std::uint64_t count = std::numeric_limits<std::uint64_t>::max();
};

// A place where the operating system shows a device's bytes as a file system now.
struct SourceMount
{
    dev_t device = 0; // what stat() gives as st_dev for the files under it
    bool writable = false; // mounted read-write: its driver may write the volume at any time
};

// An open file that holds a device's bytes as they are: `size` bytes from byte `offset` of the
// file are the device's bytes 0, 1, 2, ... A reader may map them instead of copying them.
struct MappableFile
{
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// A device's bytes seen where the system's cache holds them, without a copy: reading a whole
// volume through copies costs more than the reading itself once the volume is in the cache.
// A page that cannot be read (a bad sector, an image file cut short meanwhile) reads as zeros and
// turns `sound()` false, so the reader reads that stretch again through `read`, in small parts.
// The bytes are the device's as they are now: a program that writes the device meanwhile changes
// them under the reader, who copies what it parses (a length read twice may differ) and looks at
// them in place only byte by byte.
class DeviceView
{
public:
    virtual ~DeviceView() = default;
    virtual std::span<const std::uint8_t> bytes() const = 0;
    // False once a page of them could not be read; those pages read as zeros from then on.
    virtual bool sound() const = 0;
};

// The bytes of one drive: a block device or an image file. Positions are byte positions from the
// first byte of the volume. A transfer is whole or it fails; what a failed read left in `out` is
// unspecified (callers above this interface turn it into zeros).
class SectorDevice
{
public:
    virtual ~SectorDevice() = default;
    virtual bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) = 0;
    virtual bool write(std::uint64_t bytePosition, std::span<const std::uint8_t> in) = 0;

    // The size of the volume in bytes, when the device can tell. A damaged boot sector or run
    // list may claim more than there is; this keeps us from preparing memory for bytes that
    // cannot be read.
    virtual std::optional<std::uint64_t> size() { return std::nullopt; }

    // A hint that these bytes are read next, so a device may start fetching them while the caller
    // works on what it read before. Nothing is promised.
    virtual void willRead(std::uint64_t /*bytePosition*/, std::uint64_t /*count*/) {}

    // True for a source that is never written, such as a forensic or virtual-disk container:
    // its writes always fail, and operations that would write refuse it before they start.
    virtual bool readOnly() const { return false; }

    // True when a write can be tried at all: not a container, and the file or block device can be
    // opened for writing (a read-only image file, a device without rights, a read-only medium
    // cannot). Asked before a wipe's question, so a refusal is said before anything is chosen.
    virtual bool canWrite() { return !readOnly(); }

    // Every mount of the file system in `part` of these bytes: of the block device itself (or its
    // partition covering `part`), of the image file, or of a loop device backed by it. Empty for a
    // source nothing can mount (memory, containers) or that nobody mounted.
    virtual std::vector<SourceMount> mounts(ByteRange part)
    {
        (void)part;
        return {};
    }

    // The file behind the device when its bytes are a plain image file or block device; nothing
    // for a device that makes its bytes (a container, a device in memory).
    virtual std::optional<MappableFile> mappable() { return std::nullopt; }

    // `count` bytes from `bytePosition` seen in place; nothing where the device cannot show them so
    // (a container, bytes past its end, bytes the system's cache does not hold yet, too many views
    // at once): the caller reads them instead.
    virtual std::unique_ptr<DeviceView> view(std::uint64_t /*bytePosition*/, std::size_t /*count*/) { return nullptr; }
};

} // namespace orv
