#pragma once

// What a directory walk of a FAT12/16/32 or exFAT volume hands the scans: one file or folder as its
// directory entries describe it, where those entries lie (for Wipe), and where its content lies.
// The walks live in fat/ and exfat/; the scans and everything above them see only these types.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv {

// Clusters of a volume's data area, numbered as the file system numbers them (FAT and exFAT: the
// first data cluster is 2).
struct ClusterRun
{
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    bool operator==(const ClusterRun&) const = default;
};

// A stretch of the device's bytes that holds some of a file's directory entries: an entry set may
// straddle the end of a directory cluster.
struct EntryPiece
{
    std::uint64_t position = 0; // byte position on the device
    std::uint32_t length = 0; // a multiple of 32
    bool operator==(const EntryPiece&) const = default;
};

// How sure the walk is of a deleted file's content, strongest first. The grade follows from it.
enum class ContentCertainty : std::uint8_t {
    Exact, // free clusters the entries name exactly: NoFatChain, a single cluster, an empty file,
    // or a contiguous run whose end the next cluster's owner confirms
    Guessed, // a contiguous guess from the first cluster that had to skip clusters held by others
    FirstClusterInUse, // the first cluster belongs to a live file (or another listed one) now
};

// A local date and time as FAT and exFAT keep it (no time zone; exFAT's offset is applied when
// it has one, giving local time of the writer).
struct EntryTime
{
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool operator==(const EntryTime&) const = default;
};

struct FoundEntry
{
    // Path of the folder that holds it, from the root, each folder followed by "\" ("" for the
    // root; "Folder 1234\..." for a folder the Extended scan found without its parent).
    std::u16string folder;
    std::u16string name; // the long name when its entries survive, else the 8.3 name
    bool directory = false;
    bool deleted = false; // its own entries are marked deleted (or it lies in a deleted folder)
    std::uint64_t size = 0;
    std::optional<EntryTime> modified;
    std::uint32_t attributes = 0;

    // The entries as scanned: every piece of the entry set, in order, and their bytes back to
    // back. Wipe compares the volume with these before it writes.
    std::vector<EntryPiece> pieces;
    std::vector<std::uint8_t> entryBytes;

    // The content: runs of clusters covering `size` bytes (empty for an empty file), and how sure
    // the walk is of them.
    std::vector<ClusterRun> content;
    ContentCertainty certainty = ContentCertainty::Exact;
};

// Called for every entry a walk lists; returning false stops the walk.
using FoundEntryVisit = std::function<bool(const FoundEntry&)>;
// What a whole-volume read shows of the clusters it read, from `firstCluster` on, so files found by
// their content ride on the same reads.
using ClusterLook = std::function<void(std::uint64_t firstCluster, std::span<const std::uint8_t> bytes)>;

} // namespace orv
