#pragma once

#include <string>
#include <string_view>

#include "platform/DriveSystem.h"
#include "scan/ScanSession.h"

namespace orv {

// What the Find command found wrong before a scan; the window shows one message for each.
enum class FindCheck {
    Ok,
    DriveNotFound, // "Drive not found!"
    UnsupportedFileSystem, // "The software supports only FAT and NTFS file systems!"
    NoAccess, // the administrative-rights message
    BootSectorError, // "Error reading boot sector (NTFS)!"
    MftListError, // "MFT list reading error!"
    BadMask, // the mask is not well formed; the reason comes with it
};

struct FindCheckResult
{
    FindCheck check = FindCheck::Ok;
    std::string maskError; // for BadMask
};

// The Find command's checks, in its order, for the drive list entry `driveText` ("E: (NTFS)";
// empty when the list is empty) and the mask typed: the drive is there, carries FAT or NTFS, its
// boot sector and $MFT extents read. Fills the session's volume as it goes. A boot sector that
// cannot be read at all means missing rights on systems that need them (osMajorVersion 6 and
// up); one that reads but is not NTFS is reported as the boot-sector error, so a damaged volume
// is never blamed on the user's rights.
FindCheckResult RunFindChecks(ScanSession& session, DriveSystem& drives, std::string_view driveText,
                              std::u16string_view maskText, int osMajorVersion);

// The mask as the scans take it: blanks trimmed at both ends, and "*.*" for an empty mask.
std::u16string NormaliseMask(std::u16string_view maskText);

// The preparation of a scan that is not window work: the mask, the counters, the store.
void PrepareScan(ScanSession& session, std::u16string_view maskText);

} // namespace orv
