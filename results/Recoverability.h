#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "scan/GradeBasis.h"
#include "scan/ScanSession.h"

namespace orv {

enum class Grade { None, Poor, Average, Good };

// The catalogue key of a grade ("Poor", "Average", "Good"); empty for None.
std::string_view gradeKey(Grade grade);

// True when the first sector of `cluster` still carries the signature of a file with this
// extension (upper case, with its dot: ".JPG"). Only NTFS volumes are read.
bool SignatureMatches(VolumeContext& volume, std::int64_t cluster, std::u16string_view extension);

// How much of a deleted file is still on the volume, from the record at `recordOffset` of
// MftBuffer and the bitmap the scan loaded: Good above 80, Average from 50 to 80, Poor below; a
// low score of one of eleven common types whose first sector still holds its signature is raised
// to Average. None for a record offset that is not one. Decodes into session.MFTFile.
Grade AnalyzeProbabilityNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view fileName);
// The same into a record of the caller's own: the list grades rows while a restore or a preview
// is streaming the file decoded in session.MFTFile, and must not touch it.
Grade AnalyzeProbabilityNTFS(VolumeContext& volume, TMFTFile& decoded, std::int64_t recordOffset,
                             std::u16string_view fileName);

// The grade of a file listed under `fileName` from the basis of its record.
Grade gradeOf(VolumeContext& volume, const GradeBasis& basis, std::u16string_view fileName);

} // namespace orv
