#include "results/Recoverability.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "ntfs/BootSector.h"
#include "results/FileContent.h"
#include "volume/SectorIo.h"

namespace orv {

std::string_view gradeKey(Grade grade)
{
    switch (grade) {
    case Grade::Poor: return "Poor";
    case Grade::Average: return "Average";
    case Grade::Good: return "Good";
    case Grade::None: break;
    }
    return {};
}

bool SignatureMatches(VolumeContext& volume, std::int64_t cluster, std::u16string_view extension)
{
    if (volume.FileSystemCode != FileSystemKind::Ntfs || volume.BytesPerSector <= 0)
        return false;
    std::vector<std::uint8_t> sector(static_cast<std::size_t>(volume.BytesPerSector));
    const std::int64_t first = ClusterToSector(volume, cluster);
    if (first < 0 || !ReadSectors(volume, static_cast<std::uint64_t>(first), sector))
        return false;
    // Printable bytes only, letters in upper case: a signature may stand anywhere in the sector
    // and blanks or control bytes between its letters do not break it.
    std::string text;
    for (const std::uint8_t b : sector)
        if (b > 32)
            text += static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
    if (text.empty())
        return false;
    const auto has = [&](const char* word) { return text.find(word) != std::string::npos; };
    if (extension == u".JPG")
        return has("JF");
    if (extension == u".BMP")
        return has("BM");
    if (extension == u".PNG")
        return has("PNG");
    if (extension == u".GIF")
        return has("GIF");
    if (extension == u".SWF")
        return has("FW");
    if (extension == u".HTM")
        return has("HTM");
    if (extension == u".HTML")
        return has("HTML");
    if (extension == u".PSD")
        return has("BPS");
    if (extension == u".DOC" || extension == u".XLS" || extension == u".PPT")
        return sector[0] == 0xD0 && sector[1] == 0xCF;
    return false;
}

namespace {

std::u16string upperExtension(std::u16string_view name)
{
    const auto dot = name.rfind(u'.');
    std::u16string extension(dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot));
    for (char16_t& c : extension)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    return extension;
}

} // namespace

Grade AnalyzeProbabilityNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view fileName)
{
    return AnalyzeProbabilityNTFS(session.volume, session.MFTFile, recordOffset, fileName);
}

Grade AnalyzeProbabilityNTFS(VolumeContext& volume, TMFTFile& decoded, std::int64_t recordOffset,
                             std::u16string_view fileName)
{
    if (recordOffset < 0 ||
        DecodeRecordNTFS(volume, static_cast<std::size_t>(recordOffset), decoded) == RecordStatus::NotARecord)
        return Grade::None;
    return gradeOf(volume, gradeBasis(volume, decoded), fileName);
}

Grade gradeOf(VolumeContext& volume, const GradeBasis& basis, std::u16string_view fileName)
{
    int percent = basis.percent;
    if (percent < 50 && basis.firstCluster) {
        static constexpr std::u16string_view kSigned[] = {u".JPG", u".BMP",  u".PNG", u".PSD", u".GIF", u".SWF",
                                                          u".HTM", u".HTML", u".DOC", u".XLS", u".PPT"};
        const std::u16string extension = upperExtension(fileName);
        if (std::find(std::begin(kSigned), std::end(kSigned), extension) != std::end(kSigned) &&
            SignatureMatches(volume, *basis.firstCluster, extension))
            percent = 50;
    }
    return percent < 50 ? Grade::Poor : percent <= 80 ? Grade::Average : Grade::Good;
}

} // namespace orv
