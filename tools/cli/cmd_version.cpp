// ktutils version: the library's protocol version, a.b.c.d; and
// ktutils --version: the package's version with it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <string>

#include "ktutils/ktutils.h"
#include "ktutils/protocol/record_text.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"

namespace ktutils::tool {

void AddVersionFlag(CLI::App& tool) {
    // The first line is what help2man and package managers look for. Made
    // only when asked for: every command carries the flag.
    tool.set_version_flag(
        "--version",
        std::function<std::string()>([] {
            return std::string("ktutils ") + KTUTILS_PACKAGE_VERSION + "\nprotocol version " +
                   ToString(GetKTUVersion());
        }),
        "print the package and protocol versions and exit");
}

Command AddVersionCommand(CLI::App& tool) {
    CLI::App* version =
        tool.add_subcommand("version", "Print the protocol version of the loaded ktutils library");
    version->footer(ExitStatusHelp("printed", nullptr, "the output could not be written"));
    auto run = []() -> int {
        std::printf("%s\n", ToString(GetKTUVersion()).c_str());
        return kExitOk;
    };
    return {version, run};
}

}  // namespace ktutils::tool
