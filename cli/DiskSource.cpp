#include "DiskSource.h"

#include <cstdio>
#include <iostream>

#include "ContainerDevice.h"
#include "VolumeContext.h"

namespace orv::cli {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* fileSystemText(const Partition& p)
{
    if (p.extended)
        return "extended";
    switch (p.fileSystem) {
    case kFileSystemNtfs: return "NTFS";
    case kFileSystemFat32: return "FAT32";
    case kFileSystemFat: return "FAT";
    default: return "-";
    }
}

// number, start, size, file system, GPT name or MBR type: one partition a line.
void listPartitions(const PartitionTable& table)
{
    std::fprintf(stderr, "  %-4s %15s %15s  %-9s %s\n", "N", "start", "size", "file sys", "type");
    for (const Partition& p : table.partitions)
        std::fprintf(stderr, "  %-4d %15llu %15llu  %-9s %s\n", p.number, static_cast<unsigned long long>(p.firstByte),
                     static_cast<unsigned long long>(p.byteCount), fileSystemText(p), partitionTypeText(p).c_str());
}

} // namespace

const char* schemeName(PartitionScheme scheme)
{
    switch (scheme) {
    case PartitionScheme::Mbr: return "mbr";
    case PartitionScheme::Gpt: return "gpt";
    case PartitionScheme::None: break;
    }
    return "none";
}

DiskSource addPathSource(LinuxDriveSystem& drives, const std::string& path, const std::string& letter, int requested,
                         bool listOnly)
{
    DiskSource source;
    const OpenedImage image = openImage(path);
    if (!image.device) {
        std::cerr << image.problem << '\n';
        source.status = kExitFailed;
        return source;
    }
    source.table = readPartitionTable(*image.device);
    identifyFileSystems(*image.device, source.table);
    const PartitionPick pick = pickPartition(source.table, requested > 0 ? std::optional<int>(requested) : std::nullopt);
    using Outcome = PartitionPick::Outcome;
    switch (pick.outcome) {
    case Outcome::Whole:
    case Outcome::Picked:
        source.partition = pick.number;
        drives.addDrive(letter, path, pick.number);
        return source;
    case Outcome::Refused:
        std::cerr << source.table.problem << '\n';
        source.status = kExitFailed;
        return source;
    case Outcome::NoTable:
        std::cerr << "--partition " << requested << ": " << path << " holds no partition table.\n";
        source.status = kExitUsage;
        return source;
    case Outcome::NoSuchNumber:
        std::cerr << "--partition " << requested << ": " << path << " has no such partition. Its partitions:\n";
        listPartitions(source.table);
        source.status = kExitUsage;
        return source;
    case Outcome::Several:
    case Outcome::NoNtfs:
        break;
    }
    source.chosen = false;
    if (listOnly)
        return source;
    if (pick.outcome == Outcome::Several) {
        std::cerr << path << " holds several NTFS partitions; choose one with --partition N:\n";
        source.status = kExitUsage;
    } else {
        std::cerr << path << " holds no NTFS partition. Its partitions:\n";
        source.status = kExitFailed;
    }
    listPartitions(source.table);
    return source;
}

nlohmann::ordered_json partitionsJson(const PartitionTable& table)
{
    auto list = nlohmann::ordered_json::array();
    for (const Partition& p : table.partitions) {
        const bool gpt = table.scheme == PartitionScheme::Gpt;
        list.push_back({{"number", p.number},
                        {"start", p.firstByte},
                        {"size", p.byteCount},
                        {"file_system", p.fileSystem == kFileSystemUnknown || p.extended ? nlohmann::ordered_json(nullptr)
                                                                                       : nlohmann::ordered_json(fileSystemText(p))},
                        {"type", partitionTypeText(p)},
                        {"gpt_name", gpt ? nlohmann::ordered_json(p.gptName) : nlohmann::ordered_json(nullptr)},
                        {"mbr_type", gpt ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(p.mbrType)}});
    }
    return list;
}

} // namespace orv::cli
