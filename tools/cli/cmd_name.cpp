// ktutils name error N | name message N: the names of error codes and
// message types, as the library gives them to logs.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ktutils/ktutils.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"

namespace ktutils::tool {

Command AddNameCommand(CLI::App& tool) {
    struct Options {
        int64_t error = 0;
        int64_t type = 0;
    };
    auto options = std::make_shared<Options>();

    CLI::App* name = tool.add_subcommand("name", "Print the name of an error code or message type");
    name->require_subcommand(1);
    CLI::App* error = name->add_subcommand("error", "Name of a KTERR code (exit 1: no such code)");
    error->add_option("N", options->error, "the code, decimal or 0x hex, -2147483648 to 2147483647")
        ->required()
        ->check(CLI::Range(int64_t{INT32_MIN}, int64_t{INT32_MAX}));
    CLI::App* message =
        name->add_subcommand("message", "Name of a message type (exit 1: no such type)");
    message->add_option("N", options->type, "the type, decimal or 0x hex, 0 to 65535")
        ->required()
        ->check(CLI::Range(int64_t{0}, int64_t{UINT16_MAX}));

    auto run = [options, error, message]() -> int {
        const char* text = nullptr;
        bool known = false;
        if (error->parsed()) {
            text = KTERRToString(static_cast<KTERR>(options->error));
            known = std::strcmp(text, "UNKNOWN_ERROR") != 0;
        } else if (message->parsed()) {
            text = KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(options->type));
            known = std::strcmp(text, "UNKNOWN_MESSAGE") != 0;
        } else {
            return kExitUsage;
        }
        std::printf("%s\n", text);
        return known ? kExitOk : kExitNegative;
    };
    return {name, run};
}

}  // namespace ktutils::tool
