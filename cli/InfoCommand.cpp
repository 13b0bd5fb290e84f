// info: a volume's geometry and the extents of its $MFT.

#include "Command.h"
#include "Output.h"
#include "SectorIo.h"
#include "Source.h"

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
        if (const int status = openVolume(drives, m_options, ctx); status != kExitDone)
            return status;

        const std::vector<Field> fields = {
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
        Output out;
        if (!m_options.json) {
            printFields(out, fields);
            out << "mft_extents:";
            for (const DataRun& extent : ctx.MftExtentList)
                out << " " << extent.start << "+" << extent.length;
            out << "\n";
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
        json.endObject();
        out << "\n";
        return kExitDone;
    }

private:
    SourceOptions m_options;
};

} // namespace

std::unique_ptr<Command> addInfoCommand(CLI::App& app)
{
    return std::make_unique<InfoCommand>(app);
}

} // namespace orv::cli
