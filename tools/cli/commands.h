#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace ktutils::tool {

// A subcommand: its parser, added to the tool's app, and the body that runs
// once the command line has been parsed and returns the exit status.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

// One per subcommand, each in its own cmd_<name>.cpp, listed in main.cpp.
Command AddCrcCommand(CLI::App& tool);
Command AddMarkerCommand(CLI::App& tool);
Command AddVerifyCommand(CLI::App& tool);
Command AddNameCommand(CLI::App& tool);
Command AddVersionCommand(CLI::App& tool);
Command AddDumpCommand(CLI::App& tool);
Command AddServeCommand(CLI::App& tool);
Command AddConnectCommand(CLI::App& tool);

// The tool's own --version (in cmd_version.cpp).
void AddVersionFlag(CLI::App& tool);

}  // namespace ktutils::tool
