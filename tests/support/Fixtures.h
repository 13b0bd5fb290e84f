#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orv::test {

// The real NTFS images made by tools/make-fixtures.sh, unpacked into the build tree by the
// unpack_fixture_images test.
inline const char* const kFixtureImages[] = {"ntfs-c512", "ntfs-c4096", "ntfs-c65536", "ntfs-s4096"};

std::filesystem::path fixturesDir();
std::filesystem::path fixtureImage(const std::string& name); // "<dir>/<name>.img"

// One line of an image's manifest: what the script wrote, and what became of it.
struct ManifestEntry
{
    std::string path; // from the volume root, "/" between names
    std::string kind; // file, dir, stream
    std::int64_t size = 0;
    std::string sha256;
    std::string state; // kept, deleted, overwritten (deleted, and its clusters reused since)
    std::int64_t record = 0;
};

std::vector<ManifestEntry> readManifest(const std::string& name);

// What fsstat and ntfsinfo say of an image: key -> value.
std::map<std::string, std::string> readGeometry(const std::string& name);

} // namespace orv::test
