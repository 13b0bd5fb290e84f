#include "carve/Parsers.h"
namespace orv::carve {
bool beginsPdf(std::span<const std::uint8_t>) { return false; }
Parse parsePdf(Bytes&, std::uint64_t, std::uint64_t) { return {}; }
}
