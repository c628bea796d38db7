#pragma once

#include <cstdint>

#include "ktutils/ktutils_export.h"

// Whether the file at `path` (in the system's narrow code page) carries an
// Authenticode signature that the platform's trust service accepts: 1 if so,
// 0 if not. `uiChoice` is handed to the trust service as its dwUIChoice
// (WTD_UI_ALL 1, WTD_UI_NONE 2, WTD_UI_NOBAD 3, WTD_UI_NOGOOD 4). When
// `acceptProviderUnknown` is non-zero, a trust service that does not know the
// verification action (TRUST_E_PROVIDER_UNKNOWN) counts as accepting.
//
// The trust service ("wintrust.dll"; libwintrust.so off Windows) is loaded
// for the call and released before it returns; without it the result is 0.
// A path whose wide form does not fit in MAX_PATH characters is refused.
KTUTILS_EXPORT int VerifyServerComponent(char* path, uint32_t uiChoice, int acceptProviderUnknown);
