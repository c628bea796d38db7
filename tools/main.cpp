// The ktutils command-line tool: one subcommand per file (cmd_*.cpp), added
// here in the order that `ktutils --help` lists them.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <exception>
#include <vector>

#include "tools/commands.h"
#include "tools/exit_status.h"

namespace tool = ktutils::tool;

int main(int argc, char** argv) {
    // Sockets report a vanished peer as an error, not as a fatal signal.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app{"ktutils: message streams, a reference client and server, checksums and markers,\n"
                 "signature checks, names and versions"};
    app.require_subcommand(1);
    app.footer(tool::kExitStatusHelp);

    using Adder = tool::Command (*)(CLI::App&);
    const Adder adders[] = {
        tool::AddCrcCommand,     tool::AddMarkerCommand, tool::AddVerifyCommand,
        tool::AddDumpCommand,    tool::AddServeCommand,  tool::AddConnectCommand,
        tool::AddNameCommand,    tool::AddVersionCommand,
    };
    std::vector<tool::Command> commands;
    for (Adder add : adders) commands.push_back(add(app));

    // CLI11 would only say that a subcommand is required; name the word.
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::fprintf(stderr,
                         "ktutils: '%s' is not a subcommand\n"
                         "Run with --help for more information.\n",
                         argv[1]);
            return tool::kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);  // prints the help or the parse error
        return status == 0 ? tool::kExitOk : tool::kExitUsage;
    }
    for (const tool::Command& command : commands) {
        if (!command.app->parsed()) continue;
        try {
            return command.run();
        } catch (const std::exception& e) {
            // The commands report their expected failures themselves; this
            // is for what none foresaw (memory, a broken stream): no abort.
            std::fprintf(stderr, "ktutils %s: %s\n", command.app->get_name().c_str(), e.what());
            return tool::kExitSystem;
        }
    }
    return tool::kExitUsage;
}
