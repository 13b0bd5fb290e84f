#pragma once

// The exFAT library in one include: boot sector, allocation state, entry sets, scans and Wipe.

#include "exfat/BootSector.h" // IWYU pragma: export
#include "exfat/EntrySet.h" // IWYU pragma: export
#include "exfat/Scan.h" // IWYU pragma: export
#include "exfat/Volume.h" // IWYU pragma: export
