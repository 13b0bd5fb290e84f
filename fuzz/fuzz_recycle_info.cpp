// One Recycle Bin index file ($I, version 1 or 2) as the whole input, and the place in the listing
// its original path gives: the path may say anything, the place must stay a folder of the drive.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "scan/RecycleBin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using orv::fuzz::require;
    // A copy of exactly the input's size, so a read one byte past the file is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto info = orv::parseRecycleInfo(bytes);
    if (!info)
        return 0;
    require(info->version == 1 || info->version == 2, "a version other than 1 or 2 accepted");
    require(!info->originalPath.empty(), "an empty original path accepted");
    require(info->originalPath.find(u'\0') == std::u16string::npos, "a NUL inside the original path");
    require(0x18 + 2 * info->originalPath.size() <= size, "a path longer than the file");

    const orv::ListedPlace place = orv::originalPlace("C:", info->originalPath);
    require(place.folder.starts_with(u"C:\\") && place.folder.ends_with(u"\\"), "a folder outside the drive");
    require(place.folder.find(u"\\..\\") == std::u16string::npos &&
                place.folder.find(u"\\.\\") == std::u16string::npos &&
                place.folder.find(u"\\\\") == std::u16string::npos,
            "a folder with a step that leaves its place");
    require(place.name != u"." && place.name != u".." && place.name.find_first_of(u"\\/") == std::u16string::npos,
            "a name that is not one step");
    return 0;
}
