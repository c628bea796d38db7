// ktutils name error N|NAME | name message N|NAME: the names of error codes
// and message types, as the library gives them to logs, and back; --list
// prints them all.
#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/cli/standard_output.h"

namespace ktutils::tool {
namespace {

// One of the two name tables: the numbers worth asking about and the
// library's name for each. Every KTERR the header declares lies from KT_OK
// to KTERR_USER; every message type below 128.
struct Table {
    const char* what;      // "error code", "message type"
    const char* prefix;    // a name may be given without it, in any case
    const char* unknown;   // the library's fallback
    long long min, max;    // what N may be
    long long last;        // the highest number with a name to look for
    const char* (*name)(long long);
};

const char* ErrorName(long long code) { return KTERRToString(static_cast<KTERR>(code)); }
const char* MessageName(long long type) {
    return KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type));
}

const Table kErrors{"error code", "KTERR_", "UNKNOWN_ERROR", INT32_MIN, INT32_MAX, KTERR_USER, ErrorName};
const Table kMessages{"message type", "KTMESSAGETYPE2_", "UNKNOWN_MESSAGE", 0, UINT16_MAX, 127, MessageName};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

int Run(const CLI::App& command, const Table& table, const std::string& given, bool list) {
    if (list == !given.empty()) {
        return ReportUsageError(command, list ? "--list takes no N" : "N or --list is required");
    }
    for (long long n = 0; list && n <= table.last; ++n) {
        if (std::strcmp(table.name(n), table.unknown) != 0) std::printf("%lld %s\n", n, table.name(n));
    }
    if (list) return kExitOk;
    const char first = given[0];
    if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+') {
        const auto number = ParseNumber(given, table.min, table.max);
        if (!number) return ReportUsageError(command, "N: " + NotANumber(given, table.min, table.max));
        const char* name = table.name(*number);
        std::printf("%s\n", name);
        return std::strcmp(name, table.unknown) != 0 ? kExitOk : kExitNegative;
    }
    const std::string wanted = Upper(given);
    for (long long n = 0; n <= table.last; ++n) {
        const char* name = table.name(n);
        if (std::strcmp(name, table.unknown) != 0 &&
            (wanted == name || table.prefix + wanted == name)) {
            std::printf("%lld\n", n);
            return kExitOk;
        }
    }
    Diagnose("%s: '%s' names no %s\n", CommandPath(command).c_str(), given.c_str(), table.what);
    return kExitNegative;
}

}  // namespace

Command AddNameCommand(CLI::App& tool) {
    struct Options {
        std::string given;
        bool list = false;
    };
    auto options = std::make_shared<Options>();

    CLI::App* name = tool.add_subcommand("name", "Name an error code or message type, or number a name");
    name->require_subcommand(1);
    const std::string status = ExitStatusHelp("the number has a name, or the name a number",
                                              "the number has no name, or the name no number", nullptr);
    name->footer(status);
    CLI::App* error = name->add_subcommand("error", "The name of a KTERR code, or the code of a name");
    CLI::App* message = name->add_subcommand("message", "The name of a message type, or the type of a name");
    for (CLI::App* sub : {error, message}) {
        const bool errors = sub == error;
        sub->add_option("N", options->given,
                        errors ? "a code, -2147483648 to 2147483647 (decimal or 0x hex), or a name\n"
                                 "(KTERR_SERVERFULL, serverfull)"
                               : "a type, 0 to 65535 (decimal or 0x hex), or a name\n"
                                 "(KTMESSAGETYPE2_PING, ping)")
            ->option_text("N|NAME");
        sub->add_flag("--list", options->list, errors ? "print every code with its name" : "print every type with its name");
        sub->footer(status);
    }

    auto run = [options, error, message]() -> int {
        if (error->parsed()) return Run(*error, kErrors, options->given, options->list);
        if (message->parsed()) return Run(*message, kMessages, options->given, options->list);
        return kExitUsage;
    };
    return {name, run};
}

}  // namespace ktutils::tool
