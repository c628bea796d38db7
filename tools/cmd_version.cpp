// ktutils version: the library's protocol version, a.b.c.d.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "ktutils.h"
#include "tools/commands.h"
#include "tools/exit_status.h"
#include "tools/record_text.h"

namespace ktutils::tool {

Command AddVersionCommand(CLI::App& tool) {
    CLI::App* version =
        tool.add_subcommand("version", "Print the protocol version of the loaded ktutils library");
    auto run = []() -> int {
        std::printf("%s\n", FormatVersion(GetKTUVersion()).c_str());
        return kExitOk;
    };
    return {version, run};
}

}  // namespace ktutils::tool
