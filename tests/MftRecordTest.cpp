#include <gtest/gtest.h>

#include <cstdlib>

#include "ntfs/MftRecord.h"
#include "tests/support/RecordBuilder.h"

namespace orv {
namespace {

using test::Bytes;
using test::RecordBuilder;

TEST(ApplyRecordFixups, RestoresEveryStrideEnd)
{
    Bytes record(1024, 0);
    test::put16(record, 0x04, 0x30);
    test::put16(record, 0x06, 3);
    test::put16(record, 0x30, 0x0007);
    test::put16(record, 0x32, 0xBBAA);
    test::put16(record, 0x34, 0xDDCC);
    test::put16(record, 510, 0x0007);
    test::put16(record, 1022, 0x0007);
    ApplyRecordFixups(record);
    EXPECT_EQ(record[510], 0xAA);
    EXPECT_EQ(record[511], 0xBB);
    EXPECT_EQ(record[1022], 0xCC);
    EXPECT_EQ(record[1023], 0xDD);
    const Bytes once = record;
    ApplyRecordFixups(record);
    EXPECT_EQ(record, once) << "fixing up twice changes nothing";

    Bytes single = once;
    test::put16(single, 0x06, 1);
    const Bytes before = single;
    ApplyRecordFixups(single);
    EXPECT_EQ(single, before) << "count 1: no stride to repair";
}

TEST(ApplyRecordFixups, LeavesARecordWhoseArrayReachesTheProtectedWords)
{
    // The array would be rewritten by its own repair; and a count that claims more strides than
    // the record has must not take the repair past its end.
    for (const auto& [offset, count] : {std::pair{1020, 0xFFFF}, std::pair{506, 3}}) {
        SCOPED_TRACE(offset);
        Bytes record(1024, 0);
        test::put16(record, 0x04, offset);
        test::put16(record, 0x06, count);
        test::put16(record, 1022, 0x4242);
        const Bytes before = record;
        ApplyRecordFixups(record);
        EXPECT_EQ(record, before);
    }
}

TEST(IsSoundRecord, TakesOnlyWholeRecordsWhoseSequenceChecks)
{
    // What the whole-volume sweep meets in raw clusters: records, and bytes that only look like one.
    const test::Bytes good = test::RecordBuilder().fileName(u"a.txt", 5).build();
    const test::Bytes big = test::RecordBuilder(4096).fileName(u"a.txt", 5).build();
    EXPECT_TRUE(isSoundRecord(good, 1024));
    EXPECT_TRUE(isSoundRecord(big, 4096));
    EXPECT_FALSE(isSoundRecord(good, 4096)) << "a record of another size";
    EXPECT_FALSE(isSoundRecord(std::span(good).first(1000), 1024)) << "cut short";
    const struct
    {
        const char* fault;
        std::size_t at;
        std::uint8_t value;
    } damaged[] = {
        {"signature FILD", 3, 'D'},
        {"sequence number lost at a stride end", 1022, 0x00},
        {"update-sequence count for another record size", 0x06, 9},
        {"update-sequence array at an odd offset", 0x04, 0x31},
        {"first attribute outside the record", 0x15, 0x04},
        {"used size beyond the record", 0x19, 0x08},
        {"allocated size of another record size", 0x1D, 0x10},
    };
    for (const auto& d : damaged) {
        test::Bytes bytes = good;
        bytes[d.at] = d.value;
        EXPECT_FALSE(isSoundRecord(bytes, 1024)) << d.fault;
    }
}

TEST(SurveyAttributes, NotesEachKindAndTheUnnamedData)
{
    const Bytes record = RecordBuilder()
                             .standardInformation(1)
                             .fileName(u"LONGNA~1.TXT", 5, 2)
                             .fileName(u"long name.txt", 5, 1)
                             .residentData(Bytes(10, 1))
                             .residentData(Bytes(26, 2), u"Zone.Identifier")
                             .build(false);
    const auto survey = SurveyAttributes(record);
    ASSERT_TRUE(survey);
    EXPECT_EQ(survey->StandardInformation, 0x38u);
    EXPECT_NE(survey->FileName, 0u);
    EXPECT_EQ(readFileName(record, survey->FileName), u"long name.txt") << "the last $FILE_NAME names the file";
    ASSERT_NE(survey->Data, 0u);
    EXPECT_EQ(record[survey->Data + attr::kNameLength], 0) << "the unnamed stream, not the zone marker";
    EXPECT_EQ(survey->IndexRoot, 0u);
}

TEST(SurveyAttributes, NameOrderDecides)
{
    const Bytes shortLast =
        RecordBuilder().fileName(u"report long.doc", 5, 1).fileName(u"REPORT~1.DOC", 5, 2).build(false);
    const auto survey = SurveyAttributes(shortLast);
    ASSERT_TRUE(survey);
    EXPECT_EQ(readFileName(shortLast, survey->FileName), u"REPORT~1.DOC");
}

TEST(SurveyAttributes, RejectsDamagedLayouts)
{
    Bytes zeroLength(0x18, 0);
    test::put32(zeroLength, 0, 0x30);
    Bytes tooLong(0x18, 0);
    test::put32(tooLong, 0, 0x10);
    test::put32(tooLong, 4, 0xF000); // walks past the record

    struct Case
    {
        const char* what;
        Bytes record;
    };
    const Case cases[] = {
        {"zero attribute length", RecordBuilder().standardInformation(0).raw(zeroLength).build(false)},
        {"attribute beyond the record", RecordBuilder().standardInformation(0).raw(tooLong).build(false)},
        {"no end marker, zeros follow", RecordBuilder().standardInformation(0).noEndMarker().build(false)},
        {"first attribute offset beyond the record",
         [] {
             Bytes r = RecordBuilder().standardInformation(0).build(false);
             test::put16(r, mft::kFirstAttribute, 0xFFF0);
             return r;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(SurveyAttributes(c.record));
    }
}

TEST(SurveyAttributes, EndMarkerNeedsNoLength)
{
    // mkntfs and ntfs-3g write zeros after the end marker; such records are sound.
    const Bytes record = RecordBuilder().fileName(u"a.txt", 5).afterEndMarker({0, 0, 0, 0}).build(false);
    EXPECT_TRUE(SurveyAttributes(record));
}

TEST(RecordReaders, ReadNameParentAndTime)
{
    const std::u16string name = u"Gr\u00fc\u00dfe \U0001F4F7.jpg";
    const Bytes record = RecordBuilder()
                             .standardInformation(133'000'000'000'000'000ull)
                             .fileName(name, 0x0000'1234'5678'9ABCull)
                             .build(false);
    const auto survey = SurveyAttributes(record);
    ASSERT_TRUE(survey);
    EXPECT_EQ(readFileName(record, survey->FileName), name);
    EXPECT_EQ(toUtf8(*readFileName(record, survey->FileName)),
              "Gr\xc3\xbc\xc3\x9f"
              "e \xf0\x9f\x93\xb7.jpg");
    EXPECT_EQ(readParentRecord(record, survey->FileName), 0x1234'5678'9ABC) << "48 bits, sequence number dropped";
    EXPECT_EQ(readCreationTime(record, survey->StandardInformation), 133'000'000'000'000'000ull);

    // A name whose length runs past the record gives nothing, not bytes of the next record.
    Bytes cut = record;
    cut[survey->FileName + content::kNameLength] = 0xFF;
    EXPECT_FALSE(readFileName(std::span(cut).first(survey->FileName + 0x5A + 20), survey->FileName));
}

TEST(FileTime, ConvertsToLocalTime)
{
    ASSERT_EQ(setenv("TZ", "UTC", 1), 0);
    tzset();
    // 2021-06-15 12:34:56 UTC.
    const auto utc = fileTimeToLocal(132'682'340'960'000'000ull);
    ASSERT_TRUE(utc);
    EXPECT_EQ(isoText(*utc), "2021-06-15T12:34:56+00:00");
    ASSERT_EQ(setenv("TZ", "Europe/Berlin", 1), 0);
    tzset();
    const auto berlin = fileTimeToLocal(132'682'340'960'000'000ull);
    ASSERT_TRUE(berlin);
    EXPECT_EQ(isoText(*berlin), "2021-06-15T14:34:56+02:00");
    EXPECT_FALSE(fileTimeToLocal(~std::uint64_t{0})) << "beyond what a calendar can show";
    unsetenv("TZ");
    tzset();
}

TEST(DecodeRecordNTFS, ResidentContent)
{
    TMFTFile file;
    Bytes record = RecordBuilder().fileName(u"a.txt", 5).residentData({'h', 'e', 'l', 'l', 'o'}).build();
    ASSERT_EQ(decodeRecord(record, file), RecordStatus::Ok);
    EXPECT_TRUE(file.Resident);
    EXPECT_EQ(file.FSize, 5);
    EXPECT_EQ(file.ResidentLength, 5);
    EXPECT_EQ(file.ResidentBuf, (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_TRUE(file.ClusterList.empty());

    Bytes empty = RecordBuilder().fileName(u"empty", 5).residentData({}).build();
    ASSERT_EQ(decodeRecord(empty, file), RecordStatus::Ok);
    EXPECT_TRUE(file.Resident);
    EXPECT_EQ(file.FSize, 0);
    EXPECT_TRUE(file.ResidentBuf.empty());
}

TEST(DecodeRecordNTFS, NonResidentRuns)
{
    TMFTFile file;
    file.ClusterList = {{1, 1}}; // left from an earlier record
    Bytes record = RecordBuilder()
                       .fileName(u"big.bin", 5)
                       .nonResidentData({0x21, 0x10, 0x00, 0x08, 0x11, 0x04, 0xF0, 0x00}, 70000)
                       .build();
    ASSERT_EQ(decodeRecord(record, file), RecordStatus::Ok);
    EXPECT_FALSE(file.Resident);
    EXPECT_EQ(file.FSize, 70000);
    EXPECT_EQ(file.ClusterList, (std::vector<DataRun>{{2048, 16}, {2032, 4}}));

    TMFTFile again;
    ASSERT_EQ(decodeRecord(record, again), RecordStatus::Ok) << "the record is fixed up already";
    EXPECT_EQ(again.ClusterList, file.ClusterList);
    EXPECT_EQ(again.FSize, file.FSize);
}

TEST(DecodeRecordNTFS, TheFileIsItsUnnamedStream)
{
    // A downloaded file carries a small zone-marker stream after its content.
    TMFTFile file;
    Bytes record = RecordBuilder()
                       .fileName(u"setup.exe", 5)
                       .nonResidentData({0x11, 0x20, 0x40, 0x00}, 120'000)
                       .residentData(Bytes(26, 'Z'), u"Zone.Identifier")
                       .build();
    ASSERT_EQ(decodeRecord(record, file), RecordStatus::Ok);
    EXPECT_FALSE(file.Resident);
    EXPECT_EQ(file.FSize, 120'000);
    EXPECT_EQ(file.ClusterList, (std::vector<DataRun>{{64, 32}}));

    Bytes onlyNamed = RecordBuilder().fileName(u"x", 5).residentData(Bytes(26, 'Z'), u"Zone.Identifier").build();
    ASSERT_EQ(decodeRecord(onlyNamed, file), RecordStatus::Ok);
    EXPECT_EQ(file.FSize, 0) << "a named stream never stands in for the content";
    EXPECT_FALSE(file.Resident);
}

TEST(DecodeRecordNTFS, DamagedDataIsCorruptNotRead)
{
    struct Case
    {
        const char* what;
        std::size_t field;
        std::uint32_t value;
        int width;
    };
    // Offsets inside the resident $DATA attribute.
    const Case cases[] = {
        {"content longer than the attribute", attr::kContentLength, 4000, 4},
        {"content offset beyond the attribute", attr::kContentOffset, 0x7F00, 2},
        {"attribute length beyond the record", attr::kLength, 0xF000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes record = RecordBuilder().fileName(u"a", 5).residentData(Bytes(16, 'x')).build(false);
        const auto survey = SurveyAttributes(record);
        ASSERT_TRUE(survey && survey->Data);
        if (c.width == 4)
            test::put32(record, survey->Data + c.field, c.value);
        else
            test::put16(record, survey->Data + c.field, c.value);
        TMFTFile file;
        EXPECT_EQ(decodeRecord(record, file), RecordStatus::Corrupt);
        EXPECT_EQ(file.FSize, 0);
        EXPECT_FALSE(file.Resident);
    }
}

TEST(DecodeRecordNTFS, RunListStaysInsideItsAttribute)
{
    // The run list has no end marker; the bytes behind the attribute (the end marker of the
    // record) must not be read as runs.
    Bytes record = RecordBuilder().fileName(u"a", 5).nonResidentData({0x11, 0x01, 0x05}, 4096).build(false);
    const auto survey = SurveyAttributes(record);
    ASSERT_TRUE(survey && survey->Data);
    const std::size_t runs = survey->Data + record[survey->Data + attr::kRunListOffset];
    for (std::size_t i = runs + 3; i < survey->Data + record[survey->Data + attr::kLength]; ++i)
        record[i] = 0x11; // fill the rest of the attribute with run headers that run off its end
    TMFTFile file;
    ASSERT_EQ(decodeRecord(record, file), RecordStatus::Ok);
    ASSERT_FALSE(file.ClusterList.empty());
    EXPECT_EQ(file.ClusterList.front(), (DataRun{5, 1}));
}

TEST(DecodeRecordNTFS, AddressesRecordsInTheBuffer)
{
    VolumeContext ctx;
    ctx.MftRecordSize = 1024;
    const Bytes first = RecordBuilder().fileName(u"a", 5).residentData({1, 2, 3}).build();
    Bytes buffer(2048 + 100, 0);
    std::copy(first.begin(), first.end(), buffer.begin());
    ctx.MftBuffer.assign(std::move(buffer));
    TMFTFile file;
    ASSERT_EQ(DecodeRecordNTFS(ctx, 0, file), RecordStatus::Ok) << "offset 0 is a real record";
    EXPECT_EQ(file.ResidentBuf, (Bytes{1, 2, 3}));
    EXPECT_EQ(DecodeRecordNTFS(ctx, 2048, file), RecordStatus::NotARecord) << "only 100 bytes left";
    EXPECT_EQ(DecodeRecordNTFS(ctx, ~std::size_t{0}, file), RecordStatus::NotARecord);
}

TEST(LongNames, TheLongNameWinsAndEveryLinkCounts)
{
    constexpr std::uint8_t posix = 0, win32 = 1, dos = 2, both = 3;
    struct Case
    {
        const char* what;
        std::vector<FileNameEntry> names;
        std::vector<FileNameEntry> expected;
    };
    const Case cases[] = {
        {"a DOS alias written after the long name",
         {{u"Quarterly Report Final.docx", 5, win32}, {u"QUARTE~1.DOC", 5, dos}},
         {{u"Quarterly Report Final.docx", 5, win32}}},
        {"a DOS alias written before it",
         {{u"QUARTE~1.DOC", 5, dos}, {u"Quarterly Report Final.docx", 5, win32}},
         {{u"Quarterly Report Final.docx", 5, win32}}},
        {"only a DOS name", {{u"README.TXT", 5, dos}}, {{u"README.TXT", 5, dos}}},
        {"one name for both", {{u"notes.txt", 5, both}}, {{u"notes.txt", 5, both}}},
        {"hard links in two folders",
         {{u"a.txt", 40, win32}, {u"A~1.TXT", 40, dos}, {u"b.txt", 41, posix}},
         {{u"a.txt", 40, win32}, {u"b.txt", 41, posix}}},
        {"names that differ only in case are two POSIX names",
         {{u"a", 5, posix}, {u"A", 5, posix}},
         {{u"a", 5, posix}, {u"A", 5, posix}}},
        {"the same name twice is listed once", {{u"a.txt", 5, win32}, {u"a.txt", 5, posix}}, {{u"a.txt", 5, win32}}},
        {"no names", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(longNames(c.names), c.expected);
    }
}

// The scans note this of every listed file so that the JSON listing reads only the records that
// may hold streams: it must never say "none" of a record namedStreams finds a stream in.
TEST(MayHoldNamedStreams, FalseOnlyWhenNoStreamCanBeThere)
{
    const Bytes runs{0x11, 0x01, 0x20, 0x00};
    const struct
    {
        const char* what;
        RecordBuilder record;
        bool mayHold;
    } cases[] = {
        {"unnamed data only", RecordBuilder().fileName(u"a.txt", 5).residentData({1, 2, 3}), false},
        {"a resident named stream",
         RecordBuilder().fileName(u"a.txt", 5).residentData({1}).residentData({2}, u"Zone.Identifier"), true},
        {"a non-resident named stream",
         RecordBuilder().fileName(u"a.txt", 5).residentData({1}).nonResidentData(runs, 4096, u"big"), true},
        {"an attribute list: the stream may lie in another record",
         RecordBuilder().fileName(u"a.txt", 5).attributeList({{0x80, 0, 40}}).residentData({1}), true},
        {"no end marker", RecordBuilder().fileName(u"a.txt", 5).residentData({1}).noEndMarker(), true},
    };
    for (const auto& c : cases) {
        Bytes record = c.record.build();
        ApplyRecordFixups(record);
        EXPECT_EQ(mayHoldNamedStreams(record), c.mayHold) << c.what;
        if (!namedStreams(nullptr, record, 0).empty()) {
            EXPECT_TRUE(mayHoldNamedStreams(record)) << c.what;
        }
    }
}

} // namespace
} // namespace orv
