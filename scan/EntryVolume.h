#pragma once

// FAT12/16/32 and exFAT as the scans see them: a volume whose files are directory entries, walked
// by the file system's own code (fat/, exfat/), and listed into the store as NTFS records are.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/SectorDevice.h"
#include "scan/ExtendedScan.h"
#include "scan/ScanSession.h"
#include "volume/FoundEntry.h"

namespace orv {

class EntryVolume
{
public:
    virtual ~EntryVolume() = default;
    virtual FileSystemKind kind() const = 0;
    virtual std::uint64_t bytesPerCluster() const = 0;
    // The byte position of a cluster on the device; clusters are numbered from 2.
    virtual std::uint64_t clusterPosition(std::uint64_t cluster) const = 0;
    virtual std::uint64_t lastCluster() const = 0;
    // Whether the allocation (FAT or bitmap) gives the cluster to a file now.
    virtual bool clusterInUse(std::uint64_t cluster) const = 0;
    // The geometry lines `info` shows beyond the common ones: (name, value).
    virtual std::vector<std::pair<std::string, std::uint64_t>> layout() const = 0;

    virtual bool normalScan(SectorDevice& device, const FoundEntryVisit& visit,
                            const std::function<bool()>& keepGoing) = 0;
    virtual bool extendedScan(SectorDevice& device, bool wholeVolume, const FoundEntryVisit& visit,
                              const std::function<bool()>& keepGoing,
                              const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                              const ClusterLook& look = {}) = 0;

    enum class WipeResult { Wiped, Changed, Live, IoError };
    virtual WipeResult wipe(SectorDevice& device, const FoundEntry& entry) = 0;
};

// The FAT12/16/32 or exFAT volume of the session's device, with its allocation state read, and its
// geometry put into the session's volume (sector and cluster sizes, counts). Nothing when sector 0
// does not describe one the walks can read.
std::shared_ptr<EntryVolume> openEntryVolume(VolumeContext& volume, const std::function<bool()>& keepGoing);

// The Normal or the Extended scan of a FAT-family volume: every deleted file the walk finds (and,
// in the Extended scan, the files of folders found without their parent) that passes the mask,
// listed under its folder with a locator into session.listedEntries.
ScanReport listEntryVolume(ScanSession& session, Pump& pump, ScanProgress& progress, bool extended, bool wholeVolume,
                           std::uint64_t availablePhysicalMemory);

} // namespace orv
