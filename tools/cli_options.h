#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "protocol/ktu_records.h"

// Options that several subcommands share, with their checks, so that a bad
// value is refused while parsing and named in the error.
namespace ktutils::tool {

// --version a.b.c.d; leaves `version` as it is when the option is absent.
void AddVersionOption(CLI::App& app, KTUVersion& version, const std::string& help);

// --module ID:VER, repeatable.
void AddModulesOption(CLI::App& app, std::vector<KTUGuidVersion>& modules,
                      const std::string& help);

}  // namespace ktutils::tool
