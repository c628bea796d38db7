#include "tools/cli/cli_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ktutils/protocol/record_text.h"
#include "tools/cli/exit_status.h"
#include "tools/cli/standard_output.h"
#include "tools/files/progress_bar.h"
#include "tools/text/quoted_name.h"

namespace ktutils::tool {

std::optional<long long> ParseNumber(const std::string& text, long long min, long long max) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    // strtoull alone would take blanks, a sign or an octal form.
    const std::string body = hex ? digits.substr(2) : digits;
    if (body.empty() || body.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                            std::string::npos) {
        return std::nullopt;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(body.c_str(), nullptr, hex ? 16 : 10);
    // Every bound is a 32-bit number, so anything past 2^32 is refused alike.
    if (errno != 0 || magnitude > (1ull << 32)) return std::nullopt;
    const long long number = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (number < min || number > max) return std::nullopt;
    return number;
}

std::string NotANumber(const std::string& text, long long min, long long max) {
    return "'" + text + "' is not a number from " + std::to_string(min) + " to " + std::to_string(max);
}

std::string ExitStatusHelp(const char* ok, const char* negative, const char* system) {
    std::string text = "Exit status:\n";
    const char* lines[] = {ok, negative, "usage error: unknown option, missing or malformed argument",
                           system};
    for (int status = 0; status < 4; ++status) {
        if (lines[status] != nullptr) text += "  " + std::to_string(status) + "  " + lines[status] + "\n";
    }
    return text;
}

void AddShowSecretsOption(CLI::App& app, bool& show) {
    app.add_flag("--show-secrets", show, "show passwords as sent (default: <redacted>)");
}

void AddTimeOption(CLI::App& app, TimeForm& form, const std::string& help) {
    app.add_option_function<std::string>(
           "--time",
           [&form](const std::string& text) {
               const auto parsed = ParseTimeForm(text);
               if (!parsed) {
                   throw CLI::ValidationError("--time", "'" + text + "' is not epoch, iso, relative or delta");
               }
               form = *parsed;
           },
           help)
        ->option_text("FORM");
}

void AddProtocolVersionOption(CLI::App& app, KTUVersion& version, const std::string& help) {
    app.add_option_function<std::string>(
           "--protocol-version",
           [&version](const std::string& text) {
               const auto parsed = ParseVersion(text);
               if (!parsed) {
                   throw CLI::ValidationError("--protocol-version",
                                              "'" + text + "' is not a.b.c.d with parts 0 to 255");
               }
               version = *parsed;
           },
           help)
        ->option_text("A.B.C.D");
}

void AddModulesOption(CLI::App& app, std::vector<KTUGuidVersion>& modules,
                      const std::string& help) {
    app.add_option_function<std::vector<std::string>>(
           "--module",
           [&modules](const std::vector<std::string>& texts) {
               for (const std::string& text : texts) {
                   const auto parsed = ParseGuidVersion(text);
                   if (!parsed) {
                       throw CLI::ValidationError(
                           "--module", "'" + text + "' is not ID:VER (ID: id1-id2 in hex)");
                   }
                   modules.push_back(*parsed);
               }
           },
           help)
        ->option_text("ID:VER");
}

void AddPasswordOptions(CLI::App& app, std::string& password, const std::string& help) {
    app.add_option("--password", password,
                   help + ";\nvisible to other users in the process list: prefer\n"
                          "--password-file or " + kPasswordVariable)
        ->envname(kPasswordVariable)
        ->option_text("PASSWORD");
    // Defined after --password: CLI11 runs the callbacks in this order, so
    // the file's value is the one that stays.
    app.add_option_function<std::string>(
           "--password-file",
           [&password](const std::string& path) {
               std::ifstream file(path, std::ios::binary);
               std::string line;
               if (!file || (!std::getline(file, line) && !file.eof())) {
                   throw CLI::ValidationError("--password-file",
                                              QuoteFileName(path) + ": " + std::strerror(errno));
               }
               if (!line.empty() && line.back() == '\r') line.pop_back();
               password = line;
           },
           "read the password from the first line of FILE")
        ->option_text("FILE");
}

void AddProgressOptions(CLI::App& app) {
    // Callbacks run in the order defined: with both, --no-progress wins.
    app.add_flag_callback(
        "--progress", [] { ProgressBar::SetMode(ProgressMode::Always); },
        "draw a progress bar on standard error for every file of known size");
    app.add_flag_callback(
        "--no-progress", [] { ProgressBar::SetMode(ProgressMode::Never); },
        "never draw a progress bar");
}

std::string CommandPath(const CLI::App& app) {
    const CLI::App* parent = app.get_parent();
    return parent == nullptr ? "ktutils" : CommandPath(*parent) + " " + app.get_name();
}

int ReportUsageError(const CLI::App& app, const std::string& what) {
    const std::string path = CommandPath(app);
    Diagnose("%s: %s\nTry '%s --help' for more information.\n", path.c_str(), what.c_str(), path.c_str());
    return kExitUsage;
}

}  // namespace ktutils::tool
