// The ktutils command-line tool: one subcommand per file (cmd_*.cpp), added
// here in the order that `ktutils --help` lists them.
#include <CLI/CLI.hpp>

#include <cstring>
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/cli/standard_output.h"

namespace tool = ktutils::tool;

namespace {

// The subcommand the user reached, so that an error names it.
const CLI::App& ReachedCommand(const CLI::App& app) {
    for (const CLI::App* sub : app.get_subcommands()) return ReachedCommand(*sub);
    return app;
}

// CLI11 says "The following argument was not expected: X"; coreutils'
// wording names what X is.
std::string Describe(const CLI::ParseError& error) {
    std::string what = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr) return what;
    // CLI11 lists the words last first: the first one given is the last.
    const std::string word = what.substr(what.rfind(' ') + 1);
    return (word.size() > 1 && word[0] == '-' ? "unrecognized option '" : "extra operand '") +
           word + "'";
}

// Before the subcommand only --help and --version are known; CLI11 would
// only say that a subcommand is required, so name the word instead.
int CheckTopLevelWords(const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help" || word == "--version") continue;
        if (word[0] == '-') return tool::ReportUsageError(app, "unrecognized option '" + word + "'");
        try {
            app.get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {
            return tool::ReportUsageError(app, "'" + word + "' is not a subcommand");
        }
        break;
    }
    return tool::kExitOk;
}

// --help and --version go through C stdio like everything else, so that one
// check at exit sees whether they were written.
int PrintRequested(const CLI::App& app, const CLI::ParseError& request) {
    std::ostringstream text;
    const int status = app.exit(request, text, text);
    std::fputs(text.str().c_str(), stdout);
    return status;
}

int Run(int argc, char** argv) {
    CLI::App app{"ktutils: message streams, a reference client and server, checksums and markers,\n"
                 "signature checks, names and versions"};
    app.name("ktutils");
    app.require_subcommand(1);
    app.footer(tool::kExitStatusHelp);
    tool::AddVersionFlag(app);

    using Adder = tool::Command (*)(CLI::App&);
    const Adder adders[] = {
        tool::AddCrcCommand,     tool::AddMarkerCommand, tool::AddVerifyCommand,
        tool::AddDumpCommand,    tool::AddServeCommand,  tool::AddConnectCommand,
        tool::AddNameCommand,    tool::AddVersionCommand,
    };
    std::vector<tool::Command> commands;
    for (Adder add : adders) commands.push_back(add(app));

    if (const int status = CheckTopLevelWords(app, argc, argv); status != tool::kExitOk) {
        return status;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return PrintRequested(app, e);
    } catch (const CLI::CallForAllHelp& e) {
        return PrintRequested(app, e);
    } catch (const CLI::CallForVersion& e) {
        return PrintRequested(app, e);
    } catch (const CLI::ParseError& e) {
        return tool::ReportUsageError(ReachedCommand(app), Describe(e));
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

}  // namespace

int main(int argc, char** argv) {
    // SIGPIPE keeps its default, so `ktutils dump big | head -1` ends when
    // head does; the sockets ask for EPIPE instead (MSG_NOSIGNAL).
    tool::BufferStandardOutput();
    return tool::FinishStandardOutput(Run(argc, argv));
}
