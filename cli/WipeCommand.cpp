// wipe: a scan, then the records of the named files overwritten with zeros.

#include <iostream>

#include "base/Utf16.h"
#include "cli/Command.h"
#include "cli/Interrupts.h"
#include "cli/Output.h"
#include "cli/Scanning.h"
#include "results/FileSystem.h"
#include "results/Wipe.h"

namespace orv::cli {

namespace {

class WipeCommand final : public Command
{
public:
    explicit WipeCommand(CLI::App& app)
        : Command(app.add_subcommand("wipe", "scan, then destroy the records of deleted files"))
    {
        CLI::App& command = parser();
        addSourceOptions(command, m_scan.source);
        m_scan.forWipe = true;
        command.add_option("--folder", m_folder, "the folder of the files, e.g. C:\\Docs\\")->required();
        command.add_option("--name", m_names, "the files to wipe")->required();
        CLI::Option* extended = command.add_flag("--extended", m_scan.extended, "deep scan");
        command.add_flag("--sweep", m_scan.sweep, "with --extended: read the whole volume, not probes of it")
            ->needs(extended);
        command.add_flag("--yes", m_yes, "confirm: the records are overwritten for good");
        command.add_flag("--quiet", m_scan.quiet, "no notes on stderr");
    }

    int run(LinuxDriveSystem& drives) override
    {
        if (!m_yes) {
            std::cerr << "Wiping destroys the files' records for good; say --yes to go ahead.\n";
            return kExitUsage;
        }
        // One scope from the scan to the last record: Ctrl-C after the scan must not end the process
        // between two records with nothing said. The record being written is finished, no further
        // one is begun, and the files wiped until then are named.
        const InterruptScope interrupts;
        ScanSession session;
        std::vector<ChosenFile> chosen;
        if (const int status = scanAndChoose(drives, m_scan, m_folder, m_names, session, chosen); status != kExitDone)
            return status;
        if (chosen.empty())
            return fail(kNoFilesSelected);
        int wiped = 0;
        std::size_t reached = 0;
        std::vector<const ChosenFile*> wipedFiles;
        for (const ChosenFile& file : chosen) {
            if (InterruptScope::count() != 0)
                break;
            ++reached;
            const WipeOutcome outcome = file.stored.locator ? fileSystemOf(session).wipe(session, *file.stored.locator)
                                                            : WipeOutcome{false, "no MFT record at this offset"};
            if (file.stored.locator)
                session.store.deleteKey(file.folder, file.name, locatorText(*file.stored.locator));
            else
                session.store.deleteKey(file.folder, file.name);
            if (outcome.wiped) {
                ++wiped;
                wipedFiles.push_back(&file);
            } else if (!m_scan.quiet) {
                std::cerr << printable(file.folder) << printable(file.name) << ": " << outcome.reason << "\n";
            }
        }
        const bool stopped = reached < chosen.size();
        if (stopped) {
            // Which records are gone is what the user needs to know now: the listing said more.
            for (const ChosenFile* file : wipedFiles)
                std::cout << printable(file->folder) << printable(file->name) << "\n";
            std::cerr << "Stopped: only the " << wiped << " file(s) listed on standard output were wiped; the "
                      << chosen.size() - reached << " not reached are untouched.\n";
        }
        std::cout << wiped << " " << kFilesWiped << "\n";
        return !stopped && wiped == static_cast<int>(chosen.size()) ? kExitDone : kExitFailed;
    }

private:
    ScanOptions m_scan;
    std::string m_folder;
    std::vector<std::string> m_names;
    bool m_yes = false;
};

} // namespace

std::unique_ptr<Command> addWipeCommand(CLI::App& app)
{
    return std::make_unique<WipeCommand>(app);
}

} // namespace orv::cli
