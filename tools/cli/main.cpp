// The ktutils command-line tool: one subcommand per file (cmd_*.cpp), added
// here in the order that `ktutils --help` lists them.
#include <CLI/CLI.hpp>

#include <cstring>
#include <cstdio>
#include <memory>
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

// CLI11 says "The following argument was not expected: X" or "check was given
// a disallowed flag override"; coreutils' wording names what X is.
std::string Describe(const CLI::ParseError& error) {
    std::string what = error.what();
    static const std::string override = " was given a disallowed flag override";
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && what.size() > override.size() &&
        what.compare(what.size() - override.size(), override.size(), override) == 0) {
        const std::string name = what.substr(0, what.size() - override.size());
        return "option '" + std::string(name.size() > 1 ? "--" : "-") + name + "' doesn't allow an argument";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr) return what;
    // CLI11 lists the words last first: the first one given is the last.
    const std::string word = what.substr(what.rfind(' ') + 1);
    return (word.size() > 1 && word[0] == '-' ? "unrecognized option '" : "extra operand '") +
           word + "'";
}

// Every command takes --version, and no flag takes a value: `--check=LIST`
// must not pass for --check followed by nothing.
void AddCommonOptions(CLI::App& app) {
    if (app.get_parent() != nullptr) tool::AddVersionFlag(app);
    for (CLI::Option* option : app.get_options()) {
        if (option->get_expected_max() == 0) option->disable_flag_override();
    }
    for (CLI::App* sub : app.get_subcommands({})) AddCommonOptions(*sub);
}

// --help in words: a flag shows no value, an option the name of its value
// (FILE, N) and its default, never the parser's type names (TEXT, UINT) or
// the ranges of its checks, which the option's description gives.
class PlainFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_expected_max() == 0 || option->get_positional()) return {};
        const std::string text = option->get_option_text().empty() ? "VALUE" : option->get_option_text();
        const std::string byDefault = option->get_default_str();
        return " " + text + (byDefault.empty() ? "" : " (default " + byDefault + ")");
    }
};

using Adder = tool::Command (*)(CLI::App&);
struct Known {
    const char* name;
    Adder add;
};
// In the order that `ktutils --help` lists them.
constexpr Known kCommands[] = {
    {"crc", tool::AddCrcCommand},     {"marker", tool::AddMarkerCommand},
    {"verify", tool::AddVerifyCommand}, {"dump", tool::AddDumpCommand},
    {"serve", tool::AddServeCommand},   {"connect", tool::AddConnectCommand},
    {"name", tool::AddNameCommand},     {"version", tool::AddVersionCommand},
};

// Before the subcommand only --help and --version are known; CLI11 would
// only say that a subcommand is required, so name the word instead. Sets
// `command` to the subcommand named, or null when there is none.
int CheckTopLevelWords(const CLI::App& app, int argc, char** argv, const Known*& command) {
    command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help" || word == "--version") continue;
        if (word[0] == '-') return tool::ReportUsageError(app, "unrecognized option '" + word + "'");
        for (const Known& known : kCommands) {
            if (word == known.name) command = &known;
        }
        if (command == nullptr) return tool::ReportUsageError(app, "'" + word + "' is not a subcommand");
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
    app.formatter(std::make_shared<PlainFormatter>());
    tool::AddVersionFlag(app);

    const Known* named = nullptr;
    if (const int status = CheckTopLevelWords(app, argc, argv, named); status != tool::kExitOk) {
        return status;
    }
    // Only the command named is built: the others' parsers would cost every
    // run their time. Without one, all are, for --help to list them.
    std::vector<tool::Command> commands;
    for (const Known& known : kCommands) {
        if (named == nullptr || named == &known) commands.push_back(known.add(app));
    }
    AddCommonOptions(app);
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
            tool::Diagnose("ktutils %s: %s\n", command.app->get_name().c_str(), e.what());
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
