#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <CLI/CLI.hpp>

#include "ktutils/protocol/ktu_records.h"
#include "tools/text/time_text.h"

// Options that several subcommands share, with their checks, so that a bad
// value is refused while parsing and named in the error; and the one form of
// every usage error.
namespace ktutils::tool {

// An integer, decimal or 0x hex, from `min` to `max`; empty otherwise.
std::optional<long long> ParseNumber(const std::string& text, long long min, long long max);

// The refusal of such a value, in words: "'99999' is not a number from 0 to 65535".
std::string NotANumber(const std::string& text, long long min, long long max);

// An integer option or operand (`name` without dashes) from `min` to `max`,
// shown in --help as `text`.
template <class T>
CLI::Option* AddNumberOption(CLI::App& app, const std::string& name, T& value, long long min,
                             long long max, const std::string& help, const std::string& text = "N") {
    static_assert(std::is_integral_v<T>);
    const std::string shown = name.front() == '-' ? name.substr(0, name.find(',')) : name;
    return app
        .add_option_function<std::string>(
            name,
            [&value, min, max, shown](const std::string& given) {
                const auto number = ParseNumber(given, min, max);
                if (!number) throw CLI::ValidationError(shown, NotANumber(given, min, max));
                value = static_cast<T>(*number);
            },
            help)
        ->option_text(text);
}

// The foot of a command's --help: the exit statuses it can end with, each
// in its words (null leaves one out); 2, the usage error, is always there.
std::string ExitStatusHelp(const char* ok, const char* negative, const char* system);

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

// --show-secrets: passwords are shown as they were sent, not as <redacted>.
void AddShowSecretsOption(CLI::App& app, bool& show);

// --time epoch|iso|relative|delta: the form of the times on the lines.
void AddTimeOption(CLI::App& app, TimeForm& form, const std::string& help);

// "ktutils", "ktutils crc", "ktutils name error": how a user typed the
// command, for messages about it.
std::string CommandPath(const CLI::App& app);

// Prints "<command path>: <what>" and the line that points at --help, the
// way coreutils reports a usage error, and returns kExitUsage.
int ReportUsageError(const CLI::App& app, const std::string& what);

}  // namespace ktutils::tool
