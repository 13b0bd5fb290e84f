// drives: the drive table, with the type and file system of each drive.

#include "cli/Command.h"
#include "cli/Output.h"
#include "volume/SectorIo.h"

namespace orv::cli {

namespace {

class DrivesCommand final : public Command
{
public:
    explicit DrivesCommand(CLI::App& app) : Command(app.add_subcommand("drives", "list the drive table"))
    {
        parser().add_flag("--json", m_json, "print JSON");
    }

    int run(LinuxDriveSystem& drives) override
    {
        Output out;
        JsonWriter json(out);
        if (m_json)
            json.beginArray();
        for (const DriveEntry& entry : drives.drives()) {
            const FileSystemKind kind = fileSystemOfDrive(drives, entry.letter);
            const char* type = entry.type == DriveType::Removable ? "removable" : "fixed";
            if (m_json) {
                json.beginObject();
                json.key("letter").string(entry.letter);
                json.key("source").string(entry.path);
                json.key("type").string(type);
                json.key("file_system").number(static_cast<int>(kind));
                if (entry.partition)
                    json.key("partition").number(entry.partition);
                json.endObject();
            } else {
                // The partitions of one disk image share its path; their numbers tell them apart.
                out << padded(entry.letter, 3) << " " << padded(type, 10) << " " << padded(fileSystemName(kind), 5)
                    << " " << entry.path;
                if (entry.partition)
                    out << " (partition " << std::int64_t{entry.partition} << ")";
                out << "\n";
            }
        }
        if (m_json) {
            json.endArray();
            out << "\n";
        }
        return kExitDone;
    }

private:
    bool m_json = false;
};

} // namespace

std::unique_ptr<Command> addDrivesCommand(CLI::App& app)
{
    return std::make_unique<DrivesCommand>(app);
}

} // namespace orv::cli
