#pragma once

#include <array>
#include <string_view>

namespace orv {

// One text the program shows: where the language file keeps it, and the English text that
// stands in when the file does not define it.
struct LanguageText
{
    std::string_view section;
    std::string_view key;
    std::string_view english;
};

// Every text the program looks up. Callers name these entries instead of spelling a section,
// key and default themselves, so a text cannot drift from its default, and the language files
// can be checked against this list.
namespace lang {

// [Buttons]
inline constexpr LanguageText kButtonsOptions{"Buttons", "Options", "Options"};
inline constexpr LanguageText kButtonsHelp{"Buttons", "Help", "Help"};
inline constexpr LanguageText kButtonsMinimize{"Buttons", "Minimize", "Minimize"};
inline constexpr LanguageText kButtonsClose{"Buttons", "Close", "Close"};
inline constexpr LanguageText kButtonsFind{"Buttons", "Find", "Find"}; // the main window's button
// The same key as the label before the results window's search box: a language file that
// defines it gives both places its one text; only the built-in English differs.
inline constexpr LanguageText kButtonsFindInResults{"Buttons", "Find", "Find in results:"};
inline constexpr LanguageText kButtonsStop{"Buttons", "Stop", "Stop"};
inline constexpr LanguageText kButtonsSkip{"Buttons", "Skip", "Skip"};
inline constexpr LanguageText kButtonsRestore{"Buttons", "Restore", "Restore"};
inline constexpr LanguageText kButtonsWipe{"Buttons", "Wipe", "Wipe"};
inline constexpr LanguageText kButtonsSave{"Buttons", "Save", "Save"};
inline constexpr LanguageText kButtonsYes{"Buttons", "Yes", "Yes"};
inline constexpr LanguageText kButtonsNo{"Buttons", "No", "No"};
inline constexpr LanguageText kButtonsContinue{"Buttons", "Continue", "Continue"};

// [About]
inline constexpr LanguageText kAboutAbout{"About", "About", "About"};
inline constexpr LanguageText kAboutVersion{"About", "Version", "Version"};
inline constexpr LanguageText kAboutWebsite{"About", "Website", "Website"};
inline constexpr LanguageText kAboutSupport{"About", "Support", "Support"};
inline constexpr LanguageText kAboutLicense{"About", "License", "License agreement"};
inline constexpr LanguageText kAboutPolicy{"About", "Policy", "Privacy policy"};

// [Messages]
inline constexpr LanguageText kMessagesInformation{"Messages", "Information", "Information"};
inline constexpr LanguageText kMessagesConfirmation{"Messages", "Confirmation", "Confirmation"};
inline constexpr LanguageText kMessagesHelpNotFound{"Messages", "HelpNotFound", "Help file not found!"};

// [Warnings]
inline constexpr LanguageText kWarningsImportant{"Warnings", "Important", "Important!"};
inline constexpr LanguageText kWarningsMessage3{
    "Warnings", "Message3",
    "Some files may be damaged or rewritten. Their restoration may be impossible for technical reasons. There is "
    "no 100 percent guarantee for the restoration of data. Thank you for your understanding!"};
inline constexpr LanguageText kWarningsMessage4{"Warnings", "Message4", "Do not show this window again"};

// [Drive]
inline constexpr LanguageText kDriveMessage1{"Drive", "Message1", "Select a drive"};
inline constexpr LanguageText kDriveMessage11{"Drive", "Message11", "Mode"};
inline constexpr LanguageText kDriveMessage11a{"Drive", "Message11a", "Normal"};
inline constexpr LanguageText kDriveMessage11b{"Drive", "Message11b", "Extended"};
inline constexpr LanguageText kDriveMessage11c{"Drive", "Message11c", "Extended (whole disc)"};
inline constexpr LanguageText kDriveMessage3{"Drive", "Message3", "Drive not found!"};
inline constexpr LanguageText kDriveMessage5{"Drive", "Message5",
                                             "The software supports only FAT and NTFS file systems!"};
inline constexpr LanguageText kDriveMessage8{"Drive", "Message8", "Error reading boot sector (NTFS)!"};
inline constexpr LanguageText kDriveMessage9{"Drive", "Message9", "MFT list reading error!"};
inline constexpr LanguageText kDriveMessage12{"Drive", "Message12", "Not enough memory to finish the scan!"};
// A disk image handed to the program that is not one: a FIFO, a character device, a folder.
inline constexpr LanguageText kDriveNotAnImage{"Drive", "NotAnImage",
                                               "This is neither a disk image file nor a drive that can be read!"};
inline constexpr LanguageText kDriveNotOpened{"Drive", "NotOpened", "These could not be opened:"};
inline constexpr LanguageText kDriveNoFileSystem{"Drive", "NoFileSystem", "it holds no NTFS, FAT or exFAT volume"};

// [File]
inline constexpr LanguageText kFileMask{"File", "Mask", "File or mask to find"};
inline constexpr LanguageText kFileType12{"File", "Type12", "All files"};
inline constexpr LanguageText kFileType1{"File", "Type1", "Text documents (txt)"};
inline constexpr LanguageText kFileType2{"File", "Type2", "MS Word documents (doc)"};
inline constexpr LanguageText kFileType3{"File", "Type3", "MS Excel documents (xls)"};
inline constexpr LanguageText kFileType4{"File", "Type4", "Graphics (jpg)"};
inline constexpr LanguageText kFileType5{"File", "Type5", "Graphics (gif)"};
inline constexpr LanguageText kFileType6{"File", "Type6", "Music (mp3)"};
inline constexpr LanguageText kFileType7{"File", "Type7", "Music (wma)"};
inline constexpr LanguageText kFileType8{"File", "Type8", "Clips (mpeg)"};
inline constexpr LanguageText kFileType9{"File", "Type9", "Movies (avi)"};
inline constexpr LanguageText kFileType10{"File", "Type10", "Archive (zip)"};
inline constexpr LanguageText kFileType11{"File", "Type11", "Archive (rar)"};
inline constexpr LanguageText kFileFile{"File", "File", "File"};
inline constexpr LanguageText kFileDate{"File", "Date", "Date"};
inline constexpr LanguageText kFileTime{"File", "Time", "Time"};
inline constexpr LanguageText kFileSize{"File", "Size", "Size"};
inline constexpr LanguageText kFileRecoverability{"File", "Recoverability", "Recoverability"};
inline constexpr LanguageText kFileGood{"File", "Good", "Good"};
inline constexpr LanguageText kFileAverage{"File", "Average", "Average"};
inline constexpr LanguageText kFilePoor{"File", "Poor", "Poor"};
inline constexpr LanguageText kFileSelect2{"File", "Select2", "Select folder to save restored files"};
inline constexpr LanguageText kFileStreams{"File", "Streams", "Streams"};
inline constexpr LanguageText kFileRestoreStreams{"File", "RestoreStreams", "Restore named streams beside their files"};
inline constexpr LanguageText kFileMessage2{"File", "Message2", "No files selected!"};
inline constexpr LanguageText kFileMessage6{"File", "Message6", "Select another folder to save restored files!"};
inline constexpr LanguageText kFileMessage7{"File", "Message7", "Restore selected files?"};
inline constexpr LanguageText kFileMessage9{"File", "Message9", "Are you sure to wipe selected files?"};
inline constexpr LanguageText kFileMessage10{"File", "Message10", "file(s) wiped!"};
inline constexpr LanguageText kFileMessage11{"File", "Message11", "File or mask to find is empty!"};
inline constexpr LanguageText kFileMessage13{"File", "Message13", "Folder to save restored files does not exist!"};
inline constexpr LanguageText kFileMessage14{"File", "Message14", "file(s) restored!"};
inline constexpr LanguageText kFileMessage16{"File", "Message16", "File not found!"};
// Restoring onto the scanned volume would write over the deleted files being restored.
inline constexpr LanguageText kFileRestoreOnScannedDrive{
    "File", "RestoreOnScannedDrive",
    "The folder to save restored files is on the drive being recovered: restoring there would overwrite "
    "deleted files. Select a folder on another drive!"};
// The driver of a volume mounted read-write may write its cached copy of a record back.
inline constexpr LanguageText kFileWipeMounted{"File", "WipeMounted",
                                               "The drive is mounted for writing. Unmount it before wiping files!"};
inline constexpr LanguageText kFileWipeContainer{"File", "WipeContainer",
                                                 "The drive is a disk image container (E01, VHD, VHDX, VMDK or qcow2), "
                                                 "which is only ever read: its files cannot be wiped."};
inline constexpr LanguageText kFileWipeReadOnly{
    "File", "WipeReadOnly",
    "The drive cannot be written (a read-only image, medium or device): its files cannot be wiped."};
inline constexpr LanguageText kFileRestoreInto{"File", "RestoreInto", "They will be saved in:"};
inline constexpr LanguageText kFileNotWiped{"File", "NotWiped",
                                            "Not wiped, no longer as the scan found them or refused by the drive:"};
// The folder of the files a Volume Shadow Copy holds: its number from the oldest, and when it was
// made (local time, "2021-03-10 23:44").
inline constexpr LanguageText kFileShadowCopy{"File", "ShadowCopy", "Shadow copy %1 (%2)"};
inline constexpr LanguageText kFileShadowCopiesElsewhere{
    "File", "ShadowCopiesElsewhere",
    "%1 shadow copies of the drive keep their data on another drive and cannot be read from this one: they are "
    "left out."};
inline constexpr LanguageText kFileWipeShadowCopy{
    "File", "WipeShadowCopy", "Files of a shadow copy cannot be wiped: a shadow copy is only ever read."};
inline constexpr LanguageText kFileFoundByContent{"File", "FoundByContent", "Found by content"};
inline constexpr LanguageText kFileWipeFoundByContent{
    "File", "WipeFoundByContent",
    "Files found by their content cannot be wiped: no record names them, so there is nothing to wipe."};

// [MenuItems]
inline constexpr LanguageText kMenuItemsCheckAll{"MenuItems", "CheckAll", "Select all"};
inline constexpr LanguageText kMenuItemsUnCheckAll{"MenuItems", "UnCheckAll", "Deselect all"};

// [Process]
inline constexpr LanguageText kProcessScanned{"Process", "Scanned", "Files scanned:"};
inline constexpr LanguageText kProcessFound{"Process", "Found", "Deleted files found:"};
inline constexpr LanguageText kProcessMessage1{"Process", "Message1", "Please wait..."};
inline constexpr LanguageText kProcessMessage2{"Process", "Message2",
                                               "Are you sure you wish to cancel this operation?"};
inline constexpr LanguageText kProcessMessage4{"Process", "Message4", "Skip current step?"};
inline constexpr LanguageText kProcessNotFound{"Process", "NotFound", "Found 0 deleted files on this drive!"};

// [Hint]
inline constexpr LanguageText kHintHint4{"Hint", "Hint4", "Use Extended Mode for deep scan or formatted discs."};
inline constexpr LanguageText kHintHint3{"Hint", "Hint3", "Disc scanning takes time depending on its size."};
inline constexpr LanguageText kHintHint5{
    "Hint", "Hint5", "Extended (whole disc) reads every sector: the slowest mode, and it misses no MFT records."};

// [ExtendedMode]
inline constexpr LanguageText kExtendedModeMessage1{"ExtendedMode", "Message1", "Find MFT records"};
inline constexpr LanguageText kExtendedModeMessage2{"ExtendedMode", "Message2", "Read MFT records"};
inline constexpr LanguageText kExtendedModeMessage3{"ExtendedMode", "Message3", "Find folders"};
inline constexpr LanguageText kExtendedModeMessage4{"ExtendedMode", "Message4", "Find files"};

// [Vista]
inline constexpr LanguageText kVistaMessage1{"Vista", "Message1",
                                             "Velmora can not obtain required access to the drive."};
inline constexpr LanguageText kVistaMessage2{"Vista", "Message2",
                                             "Please make sure that you have administrative rights on your PC."};
inline constexpr LanguageText kVistaMessage3{"Vista", "Message3", "This function does not work under Windows Vista."};

// [Restored]: the end of a restore that did not give every file whole. "<count> " comes before
// Whole; the names of the files follow the other three.
inline constexpr LanguageText kRestoredWhole{"Restored", "Whole", "file(s) restored whole."};
inline constexpr LanguageText kRestoredDamaged{"Restored", "Damaged",
                                               "Restored with unreadable parts written as zeros:"};
inline constexpr LanguageText kRestoredEncrypted{"Restored", "Encrypted",
                                                 "Restored encrypted, unreadable without the key:"};
inline constexpr LanguageText kRestoredStopped{"Restored", "Stopped", "Stopped while being restored, not kept:"};
inline constexpr LanguageText kRestoredNotOnVolume{
    "Restored", "NotOnVolume", "%1: its record is no longer on the drive as the scan found it (wiped or reused)."};
inline constexpr LanguageText kRestoredNotListed{"Restored", "NotListed",
                                                 "%1: it is no longer in the results (it was wiped)."};
inline constexpr LanguageText kRestoredEmpty{"Restored", "Empty", "%1 is empty: there is nothing to restore."};
inline constexpr LanguageText kRestoredNoRoom{
    "Restored", "NoRoom", "%1 does not fit: the disk of the restore folder has too little free space."};
inline constexpr LanguageText kRestoredFolderNotMade{"Restored", "FolderNotMade",
                                                     "%1: its folder cannot be made inside the restore folder."};
inline constexpr LanguageText kRestoredCannotCreate{"Restored", "CannotCreate",
                                                    "%1 cannot be created in the restore folder: %2."};
inline constexpr LanguageText kRestoredCannotWrite{"Restored", "CannotWrite", "%1 cannot be written: %2."};
inline constexpr LanguageText kRestoredCannotName{"Restored", "CannotName",
                                                  "%1 cannot be given its name in the restore folder: %2."};
inline constexpr LanguageText kRestoredCannotOpenFolder{"Restored", "CannotOpenFolder",
                                                        "The restore folder cannot be opened for %1: %2."};

// [Mask]: why a file mask cannot be used, one text per kind of fault.
inline constexpr LanguageText kMaskUnclosed{"Mask", "Unclosed", "The mask has a \"[\" without \"]\"."};
inline constexpr LanguageText kMaskEmptySet{"Mask", "EmptySet", "The mask has an empty set \"[]\"."};
inline constexpr LanguageText kMaskRangeStart{"Mask", "RangeStart", "A range in the mask has no first character."};
inline constexpr LanguageText kMaskRangeBackwards{"Mask", "RangeBackwards", "A range in the mask runs backwards."};

// [Access]: names that screen readers say for controls that show no text of their own.
inline constexpr LanguageText kAccessFolders{"Access", "Folders", "Folders"};
inline constexpr LanguageText kAccessFiles{"Access", "Files", "Deleted files"};
inline constexpr LanguageText kAccessFileTypes{"Access", "FileTypes", "File types"};
inline constexpr LanguageText kAccessProgress{"Access", "Progress", "Progress"};
inline constexpr LanguageText kAccessPreview{"Access", "Preview", "Preview of the file"};
inline constexpr LanguageText kAccessDivider{"Access", "Divider", "Divider between folders and files"};
inline constexpr LanguageText kAccessAnimation{"Access", "Animation", "Scanning animation"};

// [Cause]: why a file could not be written or a source opened, after a text that names it.
inline constexpr LanguageText kCauseDiskFull{"Cause", "DiskFull", "the disk is full"};
inline constexpr LanguageText kCauseReadOnly{"Cause", "ReadOnly", "the disk is read-only"};
inline constexpr LanguageText kCauseNoAccess{"Cause", "NoAccess", "you have no permission to write there"};
inline constexpr LanguageText kCauseQuota{"Cause", "Quota", "your disk quota is used up"};
inline constexpr LanguageText kCauseNameTooLong{"Cause", "NameTooLong", "the name is too long for that disk"};
inline constexpr LanguageText kCauseInputOutput{"Cause", "InputOutput", "the disk reported a read or write error"};
inline constexpr LanguageText kCauseNotFound{"Cause", "NotFound", "it does not exist"};
inline constexpr LanguageText kCauseNotAnImage{"Cause", "NotAnImage", "it is neither a disk image nor a drive"};
inline constexpr LanguageText kCauseNoReadAccess{"Cause", "NoReadAccess", "you have no permission to read it"};
inline constexpr LanguageText kCauseOther{"Cause", "Other", "system error %1"};

// Every entry above, in file order.
inline constexpr std::array kAllTexts{
    kButtonsOptions,
    kButtonsHelp,
    kButtonsMinimize,
    kButtonsClose,
    kButtonsFind,
    kButtonsFindInResults,
    kButtonsStop,
    kButtonsSkip,
    kButtonsRestore,
    kButtonsWipe,
    kButtonsSave,
    kButtonsYes,
    kButtonsNo,
    kButtonsContinue,
    kAboutAbout,
    kAboutVersion,
    kAboutWebsite,
    kAboutSupport,
    kAboutLicense,
    kAboutPolicy,
    kMessagesInformation,
    kMessagesConfirmation,
    kMessagesHelpNotFound,
    kWarningsImportant,
    kWarningsMessage3,
    kWarningsMessage4,
    kDriveMessage1,
    kDriveMessage11,
    kDriveMessage11a,
    kDriveMessage11b,
    kDriveMessage11c,
    kDriveMessage3,
    kDriveMessage5,
    kDriveMessage8,
    kDriveMessage9,
    kDriveMessage12,
    kDriveNotAnImage,
    kDriveNotOpened,
    kDriveNoFileSystem,
    kFileMask,
    kFileType12,
    kFileType1,
    kFileType2,
    kFileType3,
    kFileType4,
    kFileType5,
    kFileType6,
    kFileType7,
    kFileType8,
    kFileType9,
    kFileType10,
    kFileType11,
    kFileFile,
    kFileDate,
    kFileTime,
    kFileSize,
    kFileRecoverability,
    kFileGood,
    kFileAverage,
    kFilePoor,
    kFileSelect2,
    kFileStreams,
    kFileRestoreStreams,
    kFileMessage2,
    kFileMessage6,
    kFileMessage7,
    kFileMessage9,
    kFileMessage10,
    kFileMessage11,
    kFileMessage13,
    kFileMessage14,
    kFileMessage16,
    kFileRestoreOnScannedDrive,
    kFileWipeMounted,
    kFileWipeContainer,
    kFileWipeReadOnly,
    kFileRestoreInto,
    kFileNotWiped,
    kFileShadowCopy,
    kFileShadowCopiesElsewhere,
    kFileWipeShadowCopy,
    kFileFoundByContent,
    kFileWipeFoundByContent,
    kMenuItemsCheckAll,
    kMenuItemsUnCheckAll,
    kProcessScanned,
    kProcessFound,
    kProcessMessage1,
    kProcessMessage2,
    kProcessMessage4,
    kProcessNotFound,
    kHintHint4,
    kHintHint3,
    kHintHint5,
    kExtendedModeMessage1,
    kExtendedModeMessage2,
    kExtendedModeMessage3,
    kExtendedModeMessage4,
    kVistaMessage1,
    kVistaMessage2,
    kVistaMessage3,
    kRestoredWhole,
    kRestoredDamaged,
    kRestoredEncrypted,
    kRestoredStopped,
    kRestoredNotOnVolume,
    kRestoredNotListed,
    kRestoredEmpty,
    kRestoredNoRoom,
    kRestoredFolderNotMade,
    kRestoredCannotCreate,
    kRestoredCannotWrite,
    kRestoredCannotName,
    kRestoredCannotOpenFolder,
    kMaskUnclosed,
    kMaskEmptySet,
    kMaskRangeStart,
    kMaskRangeBackwards,
    kAccessFolders,
    kAccessFiles,
    kAccessFileTypes,
    kAccessProgress,
    kAccessPreview,
    kAccessDivider,
    kAccessAnimation,
    kCauseDiskFull,
    kCauseReadOnly,
    kCauseNoAccess,
    kCauseQuota,
    kCauseNameTooLong,
    kCauseInputOutput,
    kCauseNotFound,
    kCauseNotAnImage,
    kCauseNoReadAccess,
    kCauseOther,
};

} // namespace lang

} // namespace orv
