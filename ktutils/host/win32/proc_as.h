#pragma once

#include "ktutils/host/win32/win32_api.h"

namespace ktutils::detail {

// GetProcAddress returns a generic function pointer that the caller casts to
// the symbol's real type. The detour through void(*)() is the form compilers
// accept without a cast-function-type warning.
template <typename Function>
Function ProcAs(FARPROC proc) noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace ktutils::detail
