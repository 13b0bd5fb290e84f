// How fast the per-record work of a scan goes over a $MFT of one million 1,024-byte records:
// fixups, attribute survey, name and parent, and the decode of the file's data. The records are
// a mix of what a real volume holds, copied from a few templates in a shuffled order so branch
// prediction cannot learn the sequence.

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include <benchmark/benchmark.h>

#include "ntfs/MftRecord.h"
#include "tests/support/RecordBuilder.h"

namespace {

using orv::test::Bytes;
using orv::test::RecordBuilder;

constexpr std::size_t kRecordSize = 1024;
constexpr std::size_t kRecordCount = 1'000'000;
constexpr std::uint64_t kCreated = 134'000'000'000'000'000ull;

std::vector<Bytes> recordTemplates()
{
    const Bytes fourRuns = {0x21, 0x10, 0x00, 0x01, 0x21, 0x08, 0x40, 0x02, 0x31,
                            0x20, 0x00, 0x10, 0x00, 0x21, 0x04, 0xF0, 0xFE, 0x00};
    const Bytes oneRun = {0x21, 0x18, 0x34, 0x12, 0x00};
    const Bytes text(300, 'a');
    return {
        RecordBuilder().standardInformation(kCreated).fileName(u"notes.txt", 5).residentData(text).build(),
        RecordBuilder()
            .inUse(false)
            .standardInformation(kCreated)
            .fileName(u"shopping-list.txt", 64)
            .residentData(Bytes(40, 'b'))
            .build(),
        RecordBuilder()
            .standardInformation(kCreated)
            .fileName(u"annual-report-2025.docx", 64)
            .nonResidentData(fourRuns, 240'000)
            .build(),
        RecordBuilder()
            .inUse(false)
            .standardInformation(kCreated)
            .fileName(u"IMG_0001.jpg", 70)
            .nonResidentData(oneRun, 98'000)
            .build(),
        RecordBuilder().directory(true).standardInformation(kCreated).fileName(u"Documents", 5).indexRoot().build(),
        RecordBuilder()
            .directory(true)
            .inUse(false)
            .standardInformation(kCreated)
            .fileName(u"Old", 64)
            .indexRoot()
            .build(),
        RecordBuilder()
            .standardInformation(kCreated)
            .fileName(u"download.zip", 64)
            .residentData(Bytes(26, 'z'), u"Zone.Identifier")
            .nonResidentData(fourRuns, 1'500'000)
            .build(),
        RecordBuilder()
            .inUse(false)
            .standardInformation(kCreated)
            .fileName(u"Grüße-aus-Zürich.txt", 64)
            .residentData(Bytes(500, 'c'))
            .build(),
    };
}

// One million records, built once: each is a template copy with its own record number.
std::vector<std::uint8_t>& mftBuffer()
{
    static std::vector<std::uint8_t> buffer = [] {
        const std::vector<Bytes> templates = recordTemplates();
        std::vector<std::uint8_t> bytes(kRecordCount * kRecordSize);
        std::uint32_t state = 12345;
        for (std::size_t i = 0; i < kRecordCount; ++i) {
            state = state * 1664525u + 1013904223u;
            const Bytes& record = templates[(state >> 16) % templates.size()];
            std::uint8_t* at = bytes.data() + i * kRecordSize;
            std::memcpy(at, record.data(), kRecordSize);
            for (std::size_t k = 0; k < 4; ++k) // the record number at 0x2C lies outside every fixup place
                at[orv::mft::kRecordNumber + k] = static_cast<std::uint8_t>(i >> (8 * k));
        }
        return bytes;
    }();
    return buffer;
}

void reportThroughput(benchmark::State& state)
{
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(kRecordCount * kRecordSize));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(kRecordCount));
}

// Everything the scan and the list need from a record. Fixups are applied in place and are
// idempotent, so every iteration does the same work on the same bytes.
void BM_DecodeEveryRecord(benchmark::State& state)
{
    std::vector<std::uint8_t>& buffer = mftBuffer();
    orv::TMFTFile file;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < buffer.size(); offset += kRecordSize) {
            const std::span<std::uint8_t> record(buffer.data() + offset, kRecordSize);
            orv::ApplyRecordFixups(record);
            const auto survey = orv::SurveyAttributes(record);
            if (survey && survey->FileName != 0) {
                auto name = orv::readFileName(record, survey->FileName);
                auto parent = orv::readParentRecord(record, survey->FileName);
                benchmark::DoNotOptimize(name);
                benchmark::DoNotOptimize(parent);
            }
            auto status = orv::decodeRecord(record, file);
            benchmark::DoNotOptimize(status);
            benchmark::DoNotOptimize(file.FSize);
        }
    }
    reportThroughput(state);
}
BENCHMARK(BM_DecodeEveryRecord)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The survey alone: what the scan does for every record before it knows whether the record is
// of interest. Surveys fixed-up records, as the scan does.
void BM_SurveyEveryRecord(benchmark::State& state)
{
    std::vector<std::uint8_t>& buffer = mftBuffer();
    for (std::size_t offset = 0; offset < buffer.size(); offset += kRecordSize)
        orv::ApplyRecordFixups(std::span<std::uint8_t>(buffer.data() + offset, kRecordSize));
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < buffer.size(); offset += kRecordSize) {
            auto survey = orv::SurveyAttributes(std::span<const std::uint8_t>(buffer.data() + offset, kRecordSize));
            benchmark::DoNotOptimize(survey);
        }
    }
    reportThroughput(state);
}
BENCHMARK(BM_SurveyEveryRecord)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
