#include "FileContent.h"

#include <algorithm>
#include <vector>

#include "BootSector.h"
#include "SectorIo.h"

namespace orv {

ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink)
{
    ContentReport report;
    if (file.Resident) {
        const auto length = std::min<std::size_t>(file.ResidentBuf.size(), static_cast<std::size_t>(std::max<std::int64_t>(file.ResidentLength, 0)));
        if (length > 0 && !sink(std::span(file.ResidentBuf).first(length)))
            report.outputFailed = true;
        report.written = static_cast<std::int64_t>(length);
        return report;
    }
    if (volume.BytesPerCluster <= 0)
        return report;

    const auto deviceBytes = volume.Device ? volume.Device->size() : std::nullopt;
    std::vector<std::uint8_t> buffer;
    for (const DataRun& run : file.ClusterList) {
        if (report.written >= file.FSize)
            break;
        if (run.length <= 0)
            continue;
        std::int64_t runBytes = 0, runStart = 0;
        if (__builtin_mul_overflow(run.length, volume.BytesPerCluster, &runBytes) || run.start < 0 ||
            __builtin_mul_overflow(run.start, volume.BytesPerCluster, &runStart) ||
            (deviceBytes && static_cast<std::uint64_t>(runStart) + static_cast<std::uint64_t>(runBytes) > *deviceBytes)) {
            report.damaged = true;
            return report;
        }
        for (std::int64_t done = 0; done < runBytes && report.written < file.FSize; done += kContentChunk) {
            pump.step();
            if (!keepGoing()) {
                report.stopped = true;
                return report;
            }
            const std::int64_t piece = std::min({kContentChunk, runBytes - done, file.FSize - report.written});
            // Whole sectors are read; a piece cut at the file's size is rounded up to them.
            const std::int64_t readBytes = (piece + volume.BytesPerSector - 1) / volume.BytesPerSector * volume.BytesPerSector;
            buffer.resize(static_cast<std::size_t>(readBytes));
            const std::int64_t sector = ClusterToSector(volume, run.start) + done / volume.BytesPerSector;
            if (!ReadSectors(volume, static_cast<std::uint64_t>(sector), buffer))
                report.damaged = true; // ReadSectors left zeros: the bytes keep their places
            if (!sink(std::span(buffer).first(static_cast<std::size_t>(piece)))) {
                report.outputFailed = true;
                return report;
            }
            report.written += piece;
        }
    }
    if (report.written < file.FSize)
        report.damaged = true; // the runs end before the file does
    return report;
}

} // namespace orv
