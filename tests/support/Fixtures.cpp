#include "tests/support/Fixtures.h"

#include <fstream>
#include <sstream>

namespace orv::test {

std::filesystem::path fixturesDir()
{
    return ORV_FIXTURES_DIR;
}

std::filesystem::path fixtureImage(const std::string& name)
{
    return fixturesDir() / (name + ".img");
}

namespace {

std::vector<std::vector<std::string>> readTable(const std::filesystem::path& file)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

} // namespace

std::vector<ManifestEntry> readManifest(const std::string& name)
{
    std::vector<ManifestEntry> entries;
    for (const auto& f : readTable(fixturesDir() / (name + ".manifest.tsv"))) {
        if (f.size() < 6)
            continue;
        entries.push_back({f[0], f[1], std::stoll(f[2]), f[3], f[4], std::stoll(f[5])});
    }
    return entries;
}

std::map<std::string, std::string> readGeometry(const std::string& name)
{
    std::map<std::string, std::string> geometry;
    for (const auto& f : readTable(fixturesDir() / (name + ".geometry.tsv")))
        if (f.size() >= 2)
            geometry[f[0]] = f[1];
    return geometry;
}

} // namespace orv::test
