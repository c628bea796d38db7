#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ktutils/protocol/ktu_records.h"

// Options that several subcommands share, with their checks, so that a bad
// value is refused while parsing and named in the error; and the one form of
// every usage error.
namespace ktutils::tool {

// --protocol-version a.b.c.d; leaves `version` as it is when the option is
// absent.
void AddProtocolVersionOption(CLI::App& app, KTUVersion& version, const std::string& help);

// --module ID:VER, repeatable.
void AddModulesOption(CLI::App& app, std::vector<KTUGuidVersion>& modules,
                      const std::string& help);

// The environment variable that holds a password kept off the command line.
constexpr const char* kPasswordVariable = "KTUTILS_PASSWORD";

// --password TEXT (visible to other users, so discouraged in its help),
// --password-file FILE (its first line) and the environment variable above;
// the file wins over the option, the option over the variable.
void AddPasswordOptions(CLI::App& app, std::string& password, const std::string& help);

// --progress and --no-progress: whether the bar of a long read is drawn on
// standard error (by default only for a large file, on a terminal that
// understands escape sequences).
void AddProgressOptions(CLI::App& app);

// "ktutils", "ktutils crc", "ktutils name error": how a user typed the
// command, for messages about it.
std::string CommandPath(const CLI::App& app);

// Prints "<command path>: <what>" and the line that points at --help, the
// way coreutils reports a usage error, and returns kExitUsage.
int ReportUsageError(const CLI::App& app, const std::string& what);

}  // namespace ktutils::tool
