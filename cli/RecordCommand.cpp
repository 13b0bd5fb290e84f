// record: one MFT record decoded, as a check of what the scans read from it.

#include "cli/Command.h"
#include "cli/Output.h"
#include "cli/Source.h"
#include "ntfs/MftExtents.h"
#include "ntfs/MftRecord.h"

namespace orv::cli {

namespace {

class RecordCommand final : public Command
{
public:
    explicit RecordCommand(CLI::App& app) : Command(app.add_subcommand("record", "decode one MFT record"))
    {
        addSourceOptions(parser(), m_options);
        parser().add_option("N", m_number, "record number")->required()->check(CLI::NonNegativeNumber);
    }

    int run(LinuxDriveSystem& drives) override
    {
        VolumeContext ctx;
        if (const int status = openVolume(drives, m_options, ctx); status != kExitDone)
            return status;

        const std::string which = "Record " + std::to_string(m_number);
        std::vector<std::uint8_t> record;
        if (!ReadMftRecordNTFS(ctx, m_number, record))
            return fail(which + " lies outside the $MFT or cannot be read.");
        if (record[0] != 'F' || record[1] != 'I')
            return fail(which + " is not an MFT record.");

        ApplyRecordFixups(record);
        const auto survey = SurveyAttributes(record);
        if (!survey)
            return fail(which + " is damaged: its attributes do not fit in it.");
        TMFTFile file;
        if (decodeRecord(record, file) != RecordStatus::Ok)
            return fail(which + " is damaged: its data attribute does not fit in it.");

        const std::uint8_t flags = record[mft::kFlags];
        const auto name = survey->FileName ? readFileName(record, survey->FileName) : std::nullopt;
        const auto parent = survey->FileName ? readParentRecord(record, survey->FileName) : std::nullopt;
        const auto created =
            survey->StandardInformation ? readCreationDateTime(record, survey->StandardInformation) : std::nullopt;

        const std::vector<Field> fields = {
            {"number", m_number},
            {"in_use", (flags & mft::kFlagInUse) != 0},
            {"is_directory", (flags & mft::kFlagDirectory) != 0},
            {"name", name ? (m_options.json ? toUtf8(*name) : printable(*name)) : std::string()},
            {"parent", parent ? Field::Value(*parent) : Field::Value(nullptr)},
            {"size", file.FSize},
            {"resident", file.Resident},
        };
        const Field createdField{"created", created ? Field::Value(isoText(*created)) : Field::Value(nullptr)};

        Output out;
        if (!m_options.json) {
            printFields(out, fields);
            printFields(out, {createdField});
            out << "runs:";
            for (const DataRun& run : file.ClusterList)
                out << " " << run.start << "=" << run.length;
            out << "\n";
            return kExitDone;
        }
        JsonWriter json(out);
        json.beginObject();
        writeFields(json, fields);
        json.key("runs").beginArray();
        for (const DataRun& run : file.ClusterList) {
            json.beginObject();
            json.key("cluster").number(run.start);
            json.key("count").number(run.length);
            json.endObject();
        }
        json.endArray();
        writeFields(json, {createdField});
        json.endObject();
        out << "\n";
        return kExitDone;
    }

private:
    SourceOptions m_options;
    std::int64_t m_number = 0;
};

} // namespace

std::unique_ptr<Command> addRecordCommand(CLI::App& app)
{
    return std::make_unique<RecordCommand>(app);
}

} // namespace orv::cli
