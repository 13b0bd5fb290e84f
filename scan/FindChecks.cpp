#include "scan/FindChecks.h"

#include "ntfs/BareMft.h"
#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "scan/EntryVolume.h"
#include "scan/WildcardMask.h"
#include "volume/SectorIo.h"

namespace orv {

std::u16string NormaliseMask(std::u16string_view maskText)
{
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!maskText.empty() && blank(maskText.front()))
        maskText.remove_prefix(1);
    while (!maskText.empty() && blank(maskText.back()))
        maskText.remove_suffix(1);
    return maskText.empty() ? std::u16string(kMatchEverything) : std::u16string(maskText);
}

FindCheckResult RunFindChecks(ScanSession& session, DriveSystem& drives, std::string_view driveText,
                              std::u16string_view maskText, int osMajorVersion)
{
    if (driveText.size() < 2)
        return {FindCheck::DriveNotFound, {}};
    VolumeContext& volume = session.volume;
    const std::string drive(driveText.substr(0, 2));
    volume.Drive = drive;
    if (!drives.driveExists(drive))
        return {FindCheck::DriveNotFound, {}};

    session.entryVolume.reset();
    session.listedEntries.clear();
    volume.FileSystemCode = DetectFileSystem(volume, drives, drive);
    if (!scannable(volume.FileSystemCode))
        return {FindCheck::UnsupportedFileSystem, {}};

    SelectDrive(volume, drives, drive);
    if (volume.FileSystemCode == FileSystemKind::MftFile) {
        // A bare $MFT file: its first record gives the record size; there is no boot sector.
        if (!openBareMft(volume))
            return {FindCheck::MftListError, {}};
        std::string why;
        if (!WildcardMask::compile(NormaliseMask(maskText), &why))
            return {FindCheck::BadMask, why};
        return {};
    }
    if (volume.FileSystemCode != FileSystemKind::Ntfs) {
        // FAT12/16/32 and exFAT: the boot sector and the allocation table (or bitmap) are read
        // here, so a damaged one is said before the scan starts.
        std::vector<std::uint8_t> sector;
        if (!probeSectorZero(volume, sector))
            return {osMajorVersion >= 6 ? FindCheck::NoAccess : FindCheck::BootSectorError, {}};
        session.entryVolume = openEntryVolume(volume, [] { return true; });
        if (!session.entryVolume)
            return {FindCheck::BootSectorError, {}};
        std::string why;
        if (!WildcardMask::compile(NormaliseMask(maskText), &why))
            return {FindCheck::BadMask, why};
        return {};
    }
    switch (readBootSector(volume)) {
    case BootSectorStatus::Ok: break;
    case BootSectorStatus::Unreadable:
        return {osMajorVersion >= 6 ? FindCheck::NoAccess : FindCheck::BootSectorError, {}};
    case BootSectorStatus::NotNtfs: return {FindCheck::BootSectorError, {}};
    }
    if (!ReadMftExtentsNTFS(volume))
        return {FindCheck::MftListError, {}};

    std::string why;
    if (!WildcardMask::compile(NormaliseMask(maskText), &why))
        return {FindCheck::BadMask, why};
    return {};
}

void PrepareScan(ScanSession& session, std::u16string_view maskText)
{
    session.FileMask = NormaliseMask(maskText);
    session.RecordsExamined = 0;
    session.FilesFound = 0;
    session.SkipRequested = false;
    session.store.clear();
    session.listedRecords.clear();
    session.recycledFiles.clear();
    session.listedEntries.clear();
    session.openedEntry = -1;
}

} // namespace orv
