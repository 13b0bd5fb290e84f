#pragma once

// Files found by their content: a parser per format reads a candidate file from the cluster where
// its signature lies, finds where the file really ends and checks its inner structure. The parser
// never sees clusters: the carving maps the file's offsets onto the volume (contiguous clusters
// first, then a guess of where a second fragment continues), so one parser serves every mapping.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orv::carve {

// The candidate file's bytes, from its first byte, as the current mapping places them.
class Bytes
{
public:
    virtual ~Bytes() = default;
    // Copies the bytes at [offset, offset + into.size()) into `into` and says how many it could
    // give: fewer where the mapping (or the volume) ends or a sector cannot be read. A parser
    // treats a short read as the end of what there is.
    virtual std::size_t read(std::uint64_t offset, std::span<std::uint8_t> into) = 0;
};

enum class Verdict : std::uint8_t {
    Whole, // the whole structure checked out, to the file's real end
    Cut, // a good beginning, then a check failed or the bytes ran out: `size` keeps the good part
    None, // no file of this format starts here
};

struct Parse
{
    Verdict verdict = Verdict::None;
    // Whole: the file's length. Cut: the length of the part that checked out (the last good point
    // the format allows a file to end at, or where the good bytes end when it allows none).
    std::uint64_t size = 0;
    // The structure checked out for bytes [0, goodUpTo). When the parse stops at a failed check,
    // `brokeAt` is the end of the unit whose check failed (a chunk, a member, a page): the break
    // lies in [goodUpTo, brokeAt), which is where a fragment search looks for it. 0 when unknown.
    std::uint64_t goodUpTo = 0;
    std::uint64_t brokeAt = 0;
    // Whether the checks cover the content itself (CRCs, a decoder that read every byte), not
    // only the layout: only such a file may be graded Good.
    bool contentChecked = false;
    // The extension the file is listed with, lower case without the dot ("jpg", "docx"): a
    // format may tell kinds apart that share a signature (a ZIP that is a .docx).
    std::string_view extension;
};

// How many bytes of a cluster `begins` sees: the cluster's first bytes, fewer only when the
// cluster is smaller.
inline constexpr std::size_t kHeadBytes = 512;

struct Format
{
    std::string_view name; // for logs and tests: "JPEG", "PNG", ...
    // Whether a file of this format may begin with these bytes. Cheap: it is asked for every free
    // cluster a whole-disc scan reads, so it looks at the signature and a few header fields only.
    bool (*begins)(std::span<const std::uint8_t> head);
    // Reads the file from its first byte. `limit` is the most bytes it may take (the parse gives up
    // at it, as Cut); `stopAfter`, when not 0, lets the parse return as soon as the structure
    // checked out past that offset (the fragment search asks whether a guess gets past a break),
    // with a verdict of Cut and goodUpTo past it.
    Parse (*parse)(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
};

// Every format the carving knows, in the order their signatures are tried.
std::span<const Format> formats();

} // namespace orv::carve
