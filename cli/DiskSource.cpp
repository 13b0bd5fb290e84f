#include "cli/DiskSource.h"

#include <cstdio>
#include <iostream>

#include "ntfs/VolumeContext.h"
#include "platform/linux/ContainerDevice.h"
#include "volume/SectorIo.h"

namespace orv::cli {

namespace {

const char* fileSystemText(const Partition& p)
{
    if (p.extended)
        return "extended";
    const std::string_view name = fileSystemName(p.fileSystem);
    return name.empty() ? "-" : name.data();
}

// number, start, size, file system, GPT name or MBR type: one partition a line. A GPT name is the
// disk's own text, so it is escaped as names from a volume are.
void listPartitions(const PartitionTable& table)
{
    std::fprintf(stderr, "  %-4s %15s %15s  %-9s %s\n", "N", "start", "size", "file sys", "type");
    for (const Partition& p : table.partitions)
        std::fprintf(stderr, "  %-4d %15llu %15llu  %-9s %s\n", p.number, static_cast<unsigned long long>(p.firstByte),
                     static_cast<unsigned long long>(p.byteCount), fileSystemText(p),
                     printable(partitionTypeText(p)).c_str());
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
        std::cerr << printable(image.problem) << '\n';
        source.status = kExitFailed;
        return source;
    }
    source.table = readPartitionTable(*image.device);
    identifyFileSystems(*image.device, source.table);
    const PartitionPick pick =
        pickPartition(source.table, requested > 0 ? std::optional<int>(requested) : std::nullopt);
    using Outcome = PartitionPick::Outcome;
    switch (pick.outcome) {
    case Outcome::Whole:
    case Outcome::Picked:
        source.partition = pick.number;
        drives.addDrive(letter, path, pick.number);
        return source;
    case Outcome::Refused:
        std::cerr << printable(source.table.problem) << '\n';
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
    case Outcome::NoNtfs: break;
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

void writePartitions(JsonWriter& json, const PartitionTable& table)
{
    const bool gpt = table.scheme == PartitionScheme::Gpt;
    json.beginArray();
    for (const Partition& p : table.partitions) {
        json.beginObject();
        json.key("number").number(p.number);
        json.key("start").number(p.firstByte);
        json.key("size").number(p.byteCount);
        json.key("file_system");
        if (p.fileSystem == FileSystemKind::Unknown || p.extended)
            json.null();
        else
            json.string(fileSystemText(p));
        json.key("type").string(partitionTypeText(p));
        json.key("gpt_name");
        gpt ? json.string(p.gptName) : json.null();
        json.key("mbr_type");
        gpt ? json.null() : json.number(p.mbrType);
        json.endObject();
    }
    json.endArray();
}

void printPartitions(Output& out, const PartitionTable& table)
{
    out << "partitions:\n";
    for (const Partition& p : table.partitions) {
        const bool known = p.fileSystem != FileSystemKind::Unknown && !p.extended;
        out << "  " << std::int64_t{p.number} << " " << static_cast<std::int64_t>(p.firstByte) << "+"
            << static_cast<std::int64_t>(p.byteCount) << " " << (known ? fileSystemText(p) : "-") << " "
            << printable(partitionTypeText(p)) << "\n";
    }
}

} // namespace orv::cli
