#pragma once

#include <optional>
#include <string>

#include "ktutils/host/win32/windows_types.h"

namespace ktutils::detail {

// The zero-terminated UTF-16 path as UTF-8, the file-system encoding here.
// Empty for null, for an unpaired surrogate (no UTF-8 name can match it) and
// for anything longer than Windows' longest path, 32767 characters.
std::optional<std::string> WidePathToUtf8(const WCHAR* path);

}  // namespace ktutils::detail
