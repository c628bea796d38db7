#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ktutils/protocol/ktu_records.h"

// The textual forms of the protocol records, one form for both directions:
// what the printer shows is what the command line accepts.
//
//   KTUVersion      a.b.c.d            each part 0 to 255, decimal
//   KTUGUID         XXXXXXXX-XXXXXXXX  id1, id2 in hex, 1 to 8 digits each
//   KTUGuidVersion  ID:VER             VER a 32-bit number, decimal or 0x hex
namespace ktutils::tool {

std::optional<KTUVersion> ParseVersion(std::string_view text);
std::optional<KTUGUID> ParseGuid(std::string_view text);
std::optional<KTUGuidVersion> ParseModule(std::string_view text);

std::string FormatVersion(const KTUVersion& version);
std::string FormatGuid(const KTUGUID& guid);           // always 8 + 8 lowercase digits
std::string FormatModule(const KTUGuidVersion& module);

}  // namespace ktutils::tool
