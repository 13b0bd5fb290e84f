// orvandel-cli: the scripting face of Orvandel. Messages are the program's own English texts;
// exit status 0 means done, 1 that the operation failed, 2 a usage error. Each command lives in a
// file of its own (DrivesCommand.cpp ...); the pieces they share are Source (SOURCE and the volume
// behind it), Scanning (the scan and the choice of files), Interrupts (Ctrl-C and the progress
// line) and Output (texts, the stdout buffer and the JSON writer).

#include <malloc.h>
#include <sys/resource.h>

#include <clocale>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Output.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "shell/Product.h"

int main(int argc, char** argv)
{
    using namespace orv::cli;
    std::setlocale(LC_ALL, "");
    // Under a limit on address space, each thread's own allocation arena (64 MiB set aside, mostly
    // never used) would count as memory: the scan's threads share the main one instead.
    if (rlimit space{}; ::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
        ::mallopt(M_ARENA_MAX, 1);

    CLI::App app{"Orvandel: finds and restores deleted files on NTFS volumes"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "orvandel-cli " + std::string(orv::kProductVersion), "print the version and end");
    std::vector<std::unique_ptr<Command>> commands;
    for (const auto add :
         {addDrivesCommand, addInfoCommand, addRecordCommand, addScanCommand, addRestoreCommand, addWipeCommand})
        commands.push_back(add(app));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitDone : kExitUsage;
    }

    orv::LinuxDriveSystem drives(orv::LinuxDriveSources{orv::LinuxDriveSources::defaultDriveMapFile()});
    // The scans say themselves when memory runs out; this is for what comes after them (a listing
    // made ready to print, a restore): a failure with a message, never an abort.
    try {
        for (const auto& command : commands)
            if (command->chosen())
                return command->run(drives);
    } catch (const std::bad_alloc&) {
        std::cout.flush();
        return fail("Not enough memory to finish: what was printed is incomplete.");
    }
    return kExitUsage;
}
