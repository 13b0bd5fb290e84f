#pragma once

#include <string>

#include "cli/Output.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "volume/PartitionTable.h"

namespace orv::cli {

// What a SOURCE path turned out to be: a volume, or a disk (raw or in a container) with its
// partitions and the one chosen.
struct DiskSource
{
    int status = 0; // the exit status when the source cannot be used (its message is printed)
    PartitionTable table;
    int partition = 0; // the partition that is the volume; 0 for a source without a table
    bool chosen = true; // false: a disk with no volume chosen (only `info` goes on then)
};

// Puts the image file, block device or container at `path` into the drive table under `letter`.
// A disk's volume is partition `requested` (0: none asked for), else its one NTFS partition; a
// disk with several exits 2 and one with none exits 1, each listing its partitions on stderr,
// unless `listOnly` (info), which describes such a disk instead.
DiskSource addPathSource(LinuxDriveSystem& drives, const std::string& path, const std::string& letter, int requested,
                         bool listOnly);

// The partitions as `info --json` lists them (the value of "partitions").
void writePartitions(JsonWriter& json, const PartitionTable& table);

// The partitions as `info` prints them: "partitions:", then one a line.
void printPartitions(Output& out, const PartitionTable& table);

const char* schemeName(PartitionScheme scheme);

} // namespace orv::cli
