#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "ntfs/MftRecord.h"
#include "ntfs/VolumeContext.h"

namespace orv {

// Clusters [start, start + count) that the bitmap marks in use; clusters beyond it count as free.
// Counted a machine word at a time.
std::int64_t countUsedClusters(std::span<const std::uint8_t> bitmap, std::int64_t start, std::int64_t count);

// 100 minus the share of used clusters in percent, rounded half to even (12.5 gives 12).
int recoverabilityPercent(std::int64_t used, std::int64_t total);

// What a deleted file's grade owes to its record alone: how much of its content the bitmap the
// scan loaded still marks free. Its name adds the rest (a low score of a type whose signature
// still stands is raised), so a scan can take this while it has the record in hand and a listing
// finish the grade under each name the file has.
struct GradeBasis
{
    // 0 to 100: encrypted, empty and unreadable content scores 0, resident content 100, and a file
    // some of whose content cannot come back at most 80 (never Good)
    int percent = 0;
    std::optional<std::int64_t> firstCluster; // where its content starts on the volume, when it does
};

// The basis of the grade of a file decoded from its record (its runs, holes and residency).
GradeBasis gradeBasis(VolumeContext& volume, const TMFTFile& file);

} // namespace orv
