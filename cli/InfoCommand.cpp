// info: a volume's geometry and the extents of its $MFT.

#include "cli/Command.h"
#include "cli/Output.h"
#include "cli/ShadowCopyNotes.h"
#include "cli/Source.h"
#include "ntfs/BareMft.h"
#include "scan/EntryVolume.h"
#include "volume/SectorIo.h"
#include "volume/ShadowStores.h"

namespace orv::cli {

namespace {

class InfoCommand final : public Command
{
public:
    explicit InfoCommand(CLI::App& app)
        : Command(app.add_subcommand("info", "show a volume's geometry and $MFT extents"))
    {
        addSourceOptions(parser(), m_options);
    }

    int run(LinuxDriveSystem& drives) override
    {
        VolumeContext ctx;
        DiskSource disk;
        if (const int status = openVolume(drives, m_options, ctx, &disk); status != kExitDone)
            return status;
        const bool isDisk = disk.table.scheme != PartitionScheme::None;
        if (!disk.chosen)
            return describeDisk(disk);

        // A FAT-family volume adds where its tables and data lie.
        std::vector<std::pair<std::string, std::uint64_t>> layout;
        if (ctx.FileSystemCode != FileSystemKind::Ntfs && ctx.FileSystemCode != FileSystemKind::MftFile)
            if (const auto entries = openEntryVolume(ctx, [] { return true; }))
                layout = entries->layout();
        // A bare $MFT file: how many records it holds, and the first record's fixups, which tell
        // that the copy is whole records as written.
        if (ctx.FileSystemCode == FileSystemKind::MftFile)
            if (const auto header = openBareMft(ctx)) {
                layout.emplace_back("records", static_cast<std::uint64_t>(ctx.TotalClusters));
                layout.emplace_back("first_record_update_sequence", header->updateSequenceNumber);
                layout.emplace_back("first_record_fixups", static_cast<std::uint64_t>(header->strides));
            }
        std::vector<Field> fields = {
            {"drive", ctx.Drive},
            {"file_system", std::string(fileSystemName(ctx.FileSystemCode))},
            {"bytes_per_sector", ctx.BytesPerSector},
            {"sectors_per_cluster", ctx.SectorsPerCluster},
            {"bytes_per_cluster", ctx.BytesPerCluster},
            {"total_sectors", ctx.TotalSectors},
            {"total_clusters", ctx.TotalClusters},
            {"mft_start_cluster", ctx.MftStartCluster},
            {"mft_record_size", ctx.MftRecordSize},
        };
        for (const auto& [key, value] : layout)
            fields.push_back({key, static_cast<std::int64_t>(value)});
        // The Volume Shadow Copies an NTFS volume keeps, each a volume as it stood.
        ShadowStores shadows;
        if (ctx.FileSystemCode == FileSystemKind::Ntfs)
            shadows = openShadowStores(ctx.Device, static_cast<std::uint64_t>(ctx.TotalSectors * ctx.BytesPerSector));
        noteShadowCopies(shadows.elsewhere, 0, shadows.problem);
        Output out;
        if (!m_options.json) {
            printFields(out, fields);
            if (isDisk) {
                out << "partition_table: " << schemeName(disk.table.scheme) << "\n";
                out << "partition: " << std::int64_t{disk.partition} << "\n";
            }
            out << "mft_extents:";
            for (const DataRun& extent : ctx.MftExtentList)
                out << " " << extent.start << "+" << extent.length;
            out << "\n";
            for (const ShadowStore& store : shadows.stores)
                out << "shadow_copy: " << std::int64_t{store.number} << " " << utcIsoText(store.creationTime) << " "
                    << store.identifier << (store.device ? "" : " (data on another volume)") << "\n";
            if (isDisk)
                printPartitions(out, disk.table);
            return kExitDone;
        }
        JsonWriter json(out);
        json.beginObject();
        writeFields(json, fields);
        json.key("mft_extents").beginArray();
        for (const DataRun& extent : ctx.MftExtentList) {
            json.beginObject();
            json.key("start").number(extent.start);
            json.key("length").number(extent.length);
            json.endObject();
        }
        json.endArray();
        json.key("shadow_copies").beginArray();
        for (const ShadowStore& store : shadows.stores) {
            json.beginObject();
            json.key("number").number(std::int64_t{store.number});
            json.key("creation_time").string(utcIsoText(store.creationTime));
            json.key("identifier").string(store.identifier);
            json.key("readable").boolean(store.device != nullptr);
            json.endObject();
        }
        json.endArray();
        if (isDisk) {
            json.key("partition_table").string(schemeName(disk.table.scheme));
            json.key("partition").number(disk.partition);
            json.key("partitions");
            writePartitions(json, disk.table);
        }
        json.endObject();
        out << "\n";
        return kExitDone;
    }

private:
    // Several NTFS partitions or none: the disk itself is what there is to describe.
    int describeDisk(const DiskSource& disk)
    {
        Output out;
        if (!m_options.json) {
            out << "source: " << m_options.source << "\npartition_table: " << schemeName(disk.table.scheme) << "\n";
            printPartitions(out, disk.table);
            return kExitDone;
        }
        JsonWriter json(out);
        json.beginObject();
        json.key("source").string(m_options.source);
        json.key("partition_table").string(schemeName(disk.table.scheme));
        json.key("partition").null();
        json.key("partitions");
        writePartitions(json, disk.table);
        json.endObject();
        out << "\n";
        return kExitDone;
    }

    SourceOptions m_options;
};

} // namespace

std::unique_ptr<Command> addInfoCommand(CLI::App& app)
{
    return std::make_unique<InfoCommand>(app);
}

} // namespace orv::cli
