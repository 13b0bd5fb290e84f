#pragma once

// The Normal and Extended scans of an exFAT volume and the Wipe of a listed entry set.
//
// Content rules, strongest first: a NoFatChain stream is its contiguous run, exactly; a chain
// still whole in the FAT (same length as the file, every cluster free, ending in the end mark) is
// exact too; otherwise the run is guessed contiguously from the first cluster, skipping clusters
// in use and clusters where a newer listed entry starts. Where listed entries claim one cluster,
// the newer one (by its last-modified time) holds it: a delete-and-write-again leaves the older
// entry pointing at the newer file's bytes.

#include <cstdint>
#include <functional>

#include "exfat/Volume.h"
#include "platform/SectorDevice.h"
#include "volume/FoundEntry.h"

namespace orv::exfat {

// Walks the directory tree from the root, into deleted folders to any depth (each cluster is read
// once, so loops and cross-links end), and visits every deleted file and folder in walk order
// (in a deleted folder every entry counts as deleted). False when stopped; what was visited stays.
bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                const std::function<bool()>& keepGoing);

// Everything normalScan lists, then the folders found by their shape (clusters of valid, checksummed
// entry sets that no walk reached), each listed under "Folder N\" (N its first cluster) unless a
// found folder's entry names it, every entry in them counted as deleted. The reach: free clusters
// only (what a quick format left), or with `wholeVolume` every cluster the walk did not read (also
// folders inside live files, such as a volume image stored on this one).
bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look = {});

enum class WipeResult { Wiped, Changed, Live, IoError };

// Re-reads every piece of the entry set. Changed when the bytes are not entry.entryBytes; Live when
// an entry is in use and lies in a cluster the bitmap marks in use (a live folder's entry: sets in
// free clusters belong to no folder of this volume any more). Otherwise each entry keeps only its
// type with the in-use bit clear (never 0x00, which would end the directory) and zeros: no name,
// cluster, size or time survives, and no other byte of the device changes.
WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry);

} // namespace orv::exfat
