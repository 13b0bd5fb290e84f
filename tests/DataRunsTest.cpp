#include <gtest/gtest.h>

#include "ntfs/DataRuns.h"

namespace orv {
namespace {

struct RunCase
{
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::vector<DataRun> expected;
};

const RunCase kRunCases[] = {
    {"second run steps back 16 clusters",
     {0x31, 0x10, 0x00, 0x40, 0x0C, 0x21, 0x08, 0xF0, 0xFF, 0x00},
     {{802816, 16}, {802800, 8}}},
    // A sparse file: data, a hole of 0x100 clusters, data again 0x20 clusters further on.
    {"offset size 0 is a hole and the list goes on",
     {0x11, 0x04, 0x10, 0x02, 0x00, 0x01, 0x11, 0x04, 0x20, 0x00},
     {{16, 4}, {0, 256, true}, {48, 4}}},
    {"a hole whose length runs past the buffer ends the list", {0x11, 0x04, 0x10, 0x02, 0x00}, {{16, 4}}},
    {"length size 0 ends the list", {0x11, 0x04, 0x10, 0x10, 0x05, 0x00}, {{16, 4}}},
    {"zero length moves the current cluster", {0x11, 0x00, 0x20, 0x11, 0x02, 0x08, 0x00}, {{32, 0}, {40, 2}}},
    {"two-byte negative offset", {0x11, 0x01, 0x00, 0x21, 0x01, 0x00, 0xFF, 0x00}, {{0, 1}, {-256, 1}}},
    {"length field wider than 8 bytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10}, {}},
    {"offset field wider than 8 bytes ends the list, earlier runs stand",
     {0x11, 0x04, 0x10, 0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9},
     {{16, 4}}},
    {"length field runs past the buffer", {0x14, 0x01}, {}},
    {"offset field runs past the buffer after a good run", {0x11, 0x02, 0x03, 0x41, 0x01, 0x02}, {{3, 2}}},
    {"no end marker: the buffer's end ends the list", {0x11, 0x02, 0x03}, {{3, 2}}},
    // Clusters past 2^31 and 2^32 keep their value; nothing wraps at 32 bits.
    {"cluster beyond 32 bits", {0x51, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, {{std::int64_t{1} << 32, 16}}},
    {"a four-byte offset with its top bit set steps back",
     {0x41, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00},
     {{-(std::int64_t{1} << 31), 1}}},
    {"five-byte positive offset past 2^31",
     {0x51, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00},
     {{std::int64_t{1} << 31, 1}}},
    {"length above 32 bits", {0x15, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, {{0, std::int64_t{1} << 32}}},
    {"length with the top bit of 64 set is refused", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x00}, {}},
};

TEST(DataRuns, DecodesCases)
{
    for (const auto& c : kRunCases) {
        SCOPED_TRACE(c.what);
        std::vector<DataRun> got;
        decodeDataRuns(LeReader(c.bytes), 0, [&](DataRun run) { got.push_back(run); });
        EXPECT_EQ(got, c.expected);
    }
}

TEST(DataRuns, SignExtendsEveryWidth)
{
    EXPECT_EQ(signExtend(0xF0, 1), -16);
    EXPECT_EQ(signExtend(0xFF00, 2), -256);
    EXPECT_EQ(signExtend(0x7F, 1), 127);
    EXPECT_EQ(signExtend(0x80'0000'0000ull, 5), -(std::int64_t{1} << 39));
    EXPECT_EQ(signExtend(0xFFFF'FFFF'FFFF'FFFFull, 8), -1);
}

} // namespace
} // namespace orv
