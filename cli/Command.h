#pragma once

// One command of orvandel-cli: it declares its subcommand and options on the parser, and runs once
// the command line chose it.

#include <memory>

#include <CLI/CLI.hpp>

#include "platform/linux/LinuxDriveSystem.h"

namespace orv::cli {

class Command
{
public:
    explicit Command(CLI::App* parser) : m_parser(parser) {}
    virtual ~Command() = default;

    bool chosen() const { return m_parser->parsed(); }
    // The exit status: kExitDone, kExitFailed or kExitUsage.
    virtual int run(LinuxDriveSystem& drives) = 0;

protected:
    // The subcommand, for the options a command declares in its constructor.
    CLI::App& parser() { return *m_parser; }

private:
    CLI::App* m_parser;
};

// Each adds its subcommand to `app`, in the order the help lists them.
std::unique_ptr<Command> addDrivesCommand(CLI::App& app);
std::unique_ptr<Command> addInfoCommand(CLI::App& app);
std::unique_ptr<Command> addRecordCommand(CLI::App& app);
std::unique_ptr<Command> addScanCommand(CLI::App& app);
std::unique_ptr<Command> addRestoreCommand(CLI::App& app);
std::unique_ptr<Command> addWipeCommand(CLI::App& app);

} // namespace orv::cli
