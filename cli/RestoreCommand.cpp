// restore: a scan, then its files (or the chosen ones) restored into a folder, through the same
// Restore command the results window runs.

#include <iostream>

#include "base/Utf16.h"
#include "cli/Command.h"
#include "cli/Interrupts.h"
#include "cli/Output.h"
#include "cli/Scanning.h"
#include "results/Operations.h"
#include "results/Sha256.h"

namespace orv::cli {

namespace {

// The results window's side of a restore, on a terminal: nothing to ask (the command line is the
// answer), no progress bar, and a report of every file as it is done.
class RestoreReport final : public OperationUi
{
public:
    RestoreReport(Output& out, bool json, bool quiet) : m_out(out), m_json(out), m_asJson(json), m_quiet(quiet) {}

    bool AskConfirmation(const LanguageText&) override { return true; }
    void ShowInformation(const LanguageText& text, std::optional<int> count) override
    {
        const std::string line = (count ? std::to_string(*count) + " " : std::string()) + std::string(text.english);
        // The count of restored files is the text output's last line, once; JSON keeps standard
        // output to itself, so there every message goes to stderr.
        if (count && !m_asJson)
            m_out << line << "\n";
        else
            std::cerr << line << "\n";
    }
    // An output error ends the run; the reason is already in the report of the file it hit.
    void ShowProblem(const std::string&) override {}
    void ShowImportantNotice() override {}
    void progress(int) override {}
    void counter(int, int) override {}

    void runStarted() override
    {
        if (m_asJson)
            m_json.beginArray();
    }
    void runFinished() override
    {
        if (m_asJson) {
            m_json.endArray();
            m_out << "\n";
        }
        m_out.flush();
    }

    void fileRestored(const std::u16string& folder, const std::u16string& name, const RestoreOutcome& outcome) override
    {
        using Status = RestoreOutcome::Status;
        if (outcome.status == Status::Failed)
            ++m_failed;
        if (!m_asJson) {
            if (outcome.status != Status::Restored && !m_quiet)
                std::cerr << printable(folder) << printable(name) << ": " << outcome.reason << "\n";
            return;
        }
        static constexpr const char* kStatus[] = {"restored", "damaged", "skipped", "failed", "encrypted", "stopped"};
        const std::string hash = outcome.path.empty() ? std::string() : sha256OfFile(outcome.path.c_str());
        m_json.beginObject(JsonWriter::Layout::Inline);
        m_json.key("folder").string(toUtf8(folder));
        m_json.key("name").string(toUtf8(name));
        m_json.key("path").stringOrNull(outcome.path.empty() ? std::nullopt : std::optional(outcome.path.string()));
        m_json.key("size").number(outcome.bytes);
        m_json.key("status").string(kStatus[static_cast<int>(outcome.status)]);
        m_json.key("reason").string(outcome.reason);
        m_json.key("sha256").stringOrNull(hash.empty() ? std::nullopt : std::optional(hash));
        // The files are reported in the order of the rows given: a file of a shadow copy says which.
        if (m_next < m_rows.size() && m_rows[m_next].folder == folder && m_rows[m_next].name == name) {
            const std::optional<FileLocator>& locator = m_rows[m_next++].locator;
            if (locator && locator->kind == FileLocator::Kind::ShadowCopyRecord)
                m_json.key("shadow_copy").number(std::int64_t{shadowCopyOf(*locator)});
        }
        m_json.endObject();
    }

    // The rows the run works on, in order.
    void expect(const std::vector<ListedRow>& rows) { m_rows = rows; }

    // Files that could not be written (a folder that cannot be made, a name refused): the run did
    // not do what was asked, whatever else it restored.
    int failed() const { return m_failed; }

private:
    Output& m_out;
    JsonWriter m_json;
    int m_failed = 0;
    std::vector<ListedRow> m_rows;
    std::size_t m_next = 0;
    bool m_asJson;
    bool m_quiet;
};

class RestoreCommand final : public Command
{
public:
    explicit RestoreCommand(CLI::App& app)
        : Command(app.add_subcommand("restore", "scan, then restore deleted files into a folder"))
    {
        CLI::App& command = parser();
        addSourceOptions(command, m_scan.source);
        command.add_option("--to", m_to, "the restore folder (made when missing)")->required();
        CLI::Option* extended = command.add_flag("--extended", m_scan.extended, "deep scan");
        command.add_flag("--sweep", m_scan.sweep, "with --extended: read the whole volume, not probes of it")
            ->needs(extended);
        command.add_flag("--no-shadow-copies", m_scan.noShadowCopies,
                         "leave out the files only the volume's shadow copies hold");
        command.add_option("--mask", m_scan.mask, "file name mask, e.g. *.jpg");
        command.add_option("--folder", m_folder, "only the files of this folder, e.g. C:\\Docs\\");
        command.add_option("--name", m_names, "only these files of --folder");
        command.add_flag("--keep-paths", m_keepPaths, "rebuild the files' folders inside --to");
        command.add_flag("--streams", m_streams, "also write each named stream beside its file, as NAME:STREAM");
        command.add_flag("--quiet", m_scan.quiet, "no progress line and no notes on stderr");
    }

    int run(LinuxDriveSystem& drives) override
    {
        if (!m_names.empty() && m_folder.empty()) {
            std::cerr << "--name needs --folder: names are looked up in one folder.\n";
            return kExitUsage;
        }
        ScanSession session;
        std::vector<ChosenFile> chosen;
        if (const int status = scanAndChoose(drives, m_scan, m_folder, m_names, session, chosen); status != kExitDone)
            return status;
        if (chosen.empty()) {
            Output out;
            if (m_scan.source.json) {
                out << "[]\n";
                std::cerr << kNotFound << "\n";
            } else {
                out << kNotFound << "\n";
            }
            return kExitDone;
        }
        std::vector<ListedRow> rows;
        rows.reserve(chosen.size());
        for (ChosenFile& file : chosen)
            rows.push_back({std::move(file.folder), std::move(file.name), true, file.stored.locator});

        Output out;
        RestoreReport report(out, m_scan.source.json, m_scan.quiet);
        report.expect(rows);
        RestorePump pump(session.ResultsBusy);
        session.RestoreStreams = m_streams;
        const InterruptScope interrupts;
        const OperationResult result = RunRestore(
            session, rows, m_to, m_keepPaths ? RestoreLayout::KeepPaths : RestoreLayout::Flat, false, report, pump);
        // A run stopped by Ctrl-C did not do what was asked.
        if (InterruptScope::count() != 0)
            return kExitFailed;
        return result.end == OperationResult::End::Ran && !result.outputError && report.failed() == 0 ? kExitDone
                                                                                                      : kExitFailed;
    }

private:
    ScanOptions m_scan;
    std::string m_to;
    std::string m_folder;
    std::vector<std::string> m_names;
    bool m_keepPaths = false;
    bool m_streams = false;
};

} // namespace

std::unique_ptr<Command> addRestoreCommand(CLI::App& app)
{
    return std::make_unique<RestoreCommand>(app);
}

} // namespace orv::cli
