#include "tools/cli/cli_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "ktutils/protocol/record_text.h"
#include "tools/cli/exit_status.h"
#include "tools/files/progress_bar.h"
#include "tools/text/quoted_name.h"

namespace ktutils::tool {

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
        ->type_name("A.B.C.D");
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
        ->type_name("ID:VER");
}

void AddPasswordOptions(CLI::App& app, std::string& password, const std::string& help) {
    app.add_option("--password", password,
                   help + ";\nvisible to other users in the process list: prefer\n"
                          "--password-file or " + kPasswordVariable)
        ->envname(kPasswordVariable)
        ->type_name("TEXT");
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
        ->type_name("FILE");
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
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", path.c_str(),
                 what.c_str(), path.c_str());
    return kExitUsage;
}

}  // namespace ktutils::tool
