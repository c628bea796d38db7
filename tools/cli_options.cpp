#include "tools/cli_options.h"

#include "tools/record_text.h"

namespace ktutils::tool {

void AddVersionOption(CLI::App& app, KTUVersion& version, const std::string& help) {
    app.add_option_function<std::string>(
           "--version",
           [&version](const std::string& text) {
               const auto parsed = ParseVersion(text);
               if (!parsed) {
                   throw CLI::ValidationError("--version",
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
                   const auto parsed = ParseModule(text);
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

}  // namespace ktutils::tool
