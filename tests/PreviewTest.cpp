#include <gtest/gtest.h>

#include "base/Utf16.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "results/JpegPreview.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestPumps.h"

namespace orv {
namespace {

using test::NoPump;

TEST(Preview, FitsProportionallyAndCentred)
{
    EXPECT_EQ(fitIntoBox(1024, 768), (Placement{0, 6, 48, 36}));
    EXPECT_EQ(fitIntoBox(240, 320), (Placement{6, 0, 36, 48}));
    EXPECT_EQ(fitIntoBox(16, 16), (Placement{0, 0, 48, 48})) << "small pictures are enlarged";
    EXPECT_EQ(fitIntoBox(4000, 10), (Placement{0, 23, 48, 1}));
    EXPECT_EQ(fitIntoBox(0, 10), Placement{});
}

TEST(Preview, DecodesTheDeletedPhotosOfTheDemoVolume)
{
    const auto image = test::fixtureImage("demo");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << "fixture images are not unpacked";
    LinuxDriveSystem drives({{}, "/nonexistent", "/nonexistent", "/nonexistent"});
    drives.addDrive("C:", image.string());
    ScanSession session;
    ASSERT_EQ(RunFindChecks(session, drives, "C:", u"*.jpg", 10).check, FindCheck::Ok);
    PrepareScan(session, u"*.jpg");
    NoPump pump;
    ScanProgress progress;
    NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);

    int pictures = 0;
    session.store.forEach([&](std::u16string_view, std::u16string_view key, std::u16string_view value) {
        SCOPED_TRACE(toUtf8(key));
        const Preview preview = PreviewFileNTFS(session, *parseStoredValue(value).recordOffset, pump);
        ASSERT_EQ(preview.outcome, Preview::Outcome::Picture);
        EXPECT_GE(std::min(preview.image.width, preview.image.height), 30);
        EXPECT_EQ(preview.image.pixels.size(),
                  static_cast<std::size_t>(preview.image.width * preview.image.height * 3));
        ++pictures;
    });
    EXPECT_GE(pictures, 8);

    // Damaged or foreign data behind a name that ends in .jpg: the icon, never a crash.
    const std::vector<std::uint8_t> noise(5000, 0x4A);
    EXPECT_FALSE(decodeJpeg(noise));
    const std::vector<std::uint8_t> header = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    EXPECT_FALSE(decodeJpeg(header)) << "a cut-off picture";
}

} // namespace
} // namespace orv
