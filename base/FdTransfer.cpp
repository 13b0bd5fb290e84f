#include "base/FdTransfer.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace orv {

namespace {

// Linux moves at most about 2 GiB per call; stay well below.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Calls `move(done, chunk)` until `size` bytes have moved; `move` answers like read(2)/write(2).
template <typename Move>
bool transferAll(std::size_t size, Move move)
{
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min(size - done, kMaxTransfer);
        const ssize_t moved = move(done, chunk);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) // an error, or the end of the file before the last byte
            return false;
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

} // namespace

bool transferFits(std::uint64_t position, std::size_t count)
{
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    return position <= kMaxOffset && count <= kMaxOffset - position;
}

bool readAllAt(int fd, std::uint64_t position, std::span<std::uint8_t> out)
{
    if (!transferFits(position, out.size()))
        return false;
    return transferAll(out.size(), [&](std::size_t done, std::size_t chunk) {
        return ::pread(fd, out.data() + done, chunk, static_cast<off_t>(position + done));
    });
}

bool writeAllAt(int fd, std::uint64_t position, std::span<const std::uint8_t> in)
{
    if (!transferFits(position, in.size()))
        return false;
    return transferAll(in.size(), [&](std::size_t done, std::size_t chunk) {
        return ::pwrite(fd, in.data() + done, chunk, static_cast<off_t>(position + done));
    });
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    return transferAll(bytes.size(),
                       [&](std::size_t done, std::size_t chunk) { return ::write(fd, bytes.data() + done, chunk); });
}

bool writeAll(int fd, std::string_view text)
{
    return transferAll(text.size(),
                       [&](std::size_t done, std::size_t chunk) { return ::write(fd, text.data() + done, chunk); });
}

} // namespace orv
