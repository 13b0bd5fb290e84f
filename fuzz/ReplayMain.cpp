// Runs a fuzz target over saved inputs when the build has no libFuzzer, so the targets are
// compiled and their corpora replayed on every test run. Arguments are files or directories;
// directories are read whole, in name order. A crash or a failed check aborts, as under the
// fuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size: a read past the end lands outside the allocation, where
    // a sanitizer build sees it.
    std::vector<std::uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t replayed = 0;
    bool failed = false;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::recursive_directory_iterator(arg, error))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                failed |= !replay(file);
                ++replayed;
            }
        } else if (fs::is_regular_file(arg, error)) {
            failed |= !replay(arg);
            ++replayed;
        } else {
            std::fprintf(stderr, "no such file or directory: %s\n", arg.c_str());
            failed = true;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // An empty corpus would pass without testing anything.
    return failed || replayed == 0 ? 1 : 0;
}
