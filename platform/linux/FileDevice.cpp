#include "platform/linux/FileDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/FdTransfer.h"
#include "platform/UniqueFd.h"
#include "platform/linux/MappedView.h"
#include "platform/linux/SourceMounts.h"

namespace orv {

UniqueFd openImageFile(const std::string& path, std::string* problem)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        if (problem)
            *problem = path + ": " + std::strerror(errno);
        return UniqueFd();
    }
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        if (problem)
            *problem = path + " is neither a disk image file nor a block device.";
        return UniqueFd();
    }
    // Reads of the image itself may wait for the disk, as every read does.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        if (problem)
            *problem = path + ": " + std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

int FileDevice::readable()
{
    if (m_read.get() < 0)
        m_read = openImageFile(m_path);
    return m_read.get();
}

int FileDevice::writable()
{
    if (m_write.get() >= 0)
        return m_write.get();
    // The file the reads came from, reopened for writing through its descriptor.
    if (readable() < 0)
        return -1;
    const std::string self = "/proc/self/fd/" + std::to_string(m_read.get());
    m_write = UniqueFd(::open(self.c_str(), O_WRONLY | O_CLOEXEC));
    struct stat opened
    {
    }, written{};
    if (m_write.get() >= 0 &&
        (::fstat(m_read.get(), &opened) != 0 || ::fstat(m_write.get(), &written) != 0 ||
         opened.st_dev != written.st_dev || opened.st_ino != written.st_ino))
        m_write = UniqueFd();
    return m_write.get();
}

bool FileDevice::read(std::uint64_t bytePosition, std::span<std::uint8_t> out)
{
    if (!transferFits(bytePosition, out.size()))
        return false;
    const int fd = readable();
    return fd >= 0 && readAllAt(fd, bytePosition, out);
}

void FileDevice::willRead(std::uint64_t bytePosition, std::uint64_t count)
{
    const int fd = readable();
    if (fd >= 0 && transferFits(bytePosition, count))
        ::posix_fadvise(fd, static_cast<off_t>(bytePosition), static_cast<off_t>(count), POSIX_FADV_WILLNEED);
}

bool FileDevice::write(std::uint64_t bytePosition, std::span<const std::uint8_t> in)
{
    if (!transferFits(bytePosition, in.size()))
        return false;
    // Never creates or truncates: a drive that is not there is not made up.
    const int fd = writable();
    if (fd < 0)
        return false;
    // An image file would silently grow; a volume has no bytes past its end.
    struct stat info
    {};
    if (::fstat(fd, &info) != 0)
        return false;
    if (S_ISREG(info.st_mode) && bytePosition + in.size() > static_cast<std::uint64_t>(info.st_size))
        return false;
    if (!writeAllAt(fd, bytePosition, in))
        return false;
    // The bytes must be on the volume, not in a cache, before we say they were written.
    return ::fdatasync(fd) == 0;
}

std::optional<std::uint64_t> FileDevice::size()
{
    const int fd = readable();
    struct stat info
    {};
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return std::nullopt;
    if (S_ISREG(info.st_mode))
        return static_cast<std::uint64_t>(info.st_size);
    std::uint64_t bytes = 0;
    if (S_ISBLK(info.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
        return bytes;
    return std::nullopt;
}

std::vector<SourceMount> FileDevice::mounts(ByteRange part)
{
    // The file first opened, whatever its path names now.
    return mountsOfOpenFile(readable(), part);
}

std::optional<MappableFile> FileDevice::mappable()
{
    const auto bytes = size();
    if (!bytes)
        return std::nullopt;
    return MappableFile{readable(), 0, *bytes};
}

std::unique_ptr<DeviceView> FileDevice::view(std::uint64_t bytePosition, std::size_t count)
{
    const auto file = mappable();
    return file ? MappedView::map(*file, bytePosition, count) : nullptr;
}

} // namespace orv
