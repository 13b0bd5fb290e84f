#pragma once

#include <filesystem>
#include <vector>

#include "platform/SectorDevice.h"

namespace orv {

// Where the system shows the bytes behind a device or image file as a file system: the mounts of
// the block device (or of its partitions that cover `part`), of the image file itself (a FUSE
// driver such as ntfs-3g opens it directly), and of any loop device backed by the file, or by the
// file a loop device reads. Files are compared by device and inode, never by path text, so a
// link, a bind mount or another spelling of the path names the same bytes.
struct MountTables
{
    std::filesystem::path sysClassBlock = "/sys/class/block";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

std::vector<SourceMount> mountsOfOpenFile(int fd, ByteRange part, const MountTables& tables = {});

} // namespace orv
