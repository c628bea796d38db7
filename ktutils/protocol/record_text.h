#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ktutils/ktutils_export.h"
#include "ktutils/protocol/ktu_records.h"

// The text forms of the records, for logs, configuration files and command
// lines: what ToString writes, the matching Parse reads back unchanged.
//
//   KTUVersion      1.2.3.4              four parts 0 to 255, decimal, at most 3 digits each
//   KTUGUID         0000002a-00000001    id1-id2 in hex, written with 8 lowercase digits
//                                        each, read with 1 to 8 digits of either case
//   KTUGuidVersion  0000002a-00000001:3  the identifier, then the version in decimal;
//                                        read also in hex after "0x" (0000002a-00000001:0x3)
//
// The parsers are strict: the whole text and nothing else, no sign, no
// spaces, no value out of range; anything else gives no value.
namespace ktutils {

KTUTILS_EXPORT std::string ToString(const KTUVersion& version);
KTUTILS_EXPORT std::string ToString(const KTUGUID& guid);
KTUTILS_EXPORT std::string ToString(const KTUGuidVersion& module);

KTUTILS_EXPORT std::optional<KTUVersion> ParseVersion(std::string_view text);
KTUTILS_EXPORT std::optional<KTUGUID> ParseGuid(std::string_view text);
KTUTILS_EXPORT std::optional<KTUGuidVersion> ParseGuidVersion(std::string_view text);

}  // namespace ktutils
