#pragma once

#include <string>

#include "platform/SectorDevice.h"
#include "platform/UniqueFd.h"

namespace orv {

// Opens a disk image file or block device for reading without waiting: opening a FIFO blocks
// until someone writes to it, and a window thread or a scan would hang there. What is neither a
// regular file nor a block device (a FIFO, a character device such as /dev/zero, a socket, a
// folder) is refused: -1, with `problem` (when given) saying why.
UniqueFd openImageFile(const std::string& path, std::string* problem = nullptr);

// A block device or an image file by its path. The path is opened once, at the first transfer,
// and the descriptor kept for every later one: the bytes read and written are those of the file
// first opened, even when the path is made to name another file meanwhile (a folder another user
// can write holds the image). A write reopens that same file through its descriptor, never the
// path. Every transfer moves all its bytes (pread/pwrite may move fewer than asked, so it loops).
class FileDevice final : public SectorDevice
{
public:
    explicit FileDevice(std::string path) : m_path(std::move(path)) {}

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override;
    bool write(std::uint64_t bytePosition, std::span<const std::uint8_t> in) override;
    std::optional<std::uint64_t> size() override;
    std::vector<SourceMount> mounts(ByteRange part) override;
    void willRead(std::uint64_t bytePosition, std::uint64_t count) override;
    std::optional<MappableFile> mappable() override;
    std::unique_ptr<DeviceView> view(std::uint64_t bytePosition, std::size_t count) override;
    bool canWrite() override { return writable() >= 0; }

    const std::string& path() const { return m_path; }

private:
    int readable();
    int writable();

    std::string m_path;
    UniqueFd m_read;
    UniqueFd m_write;
};

} // namespace orv
