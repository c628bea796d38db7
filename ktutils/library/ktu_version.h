#pragma once

#include "ktutils/ktutils_export.h"
#include "ktutils/protocol/ktu_records.h"

// The library's protocol version, 0.0.0.3: one record, set before any
// function can be called and never written again. Every call returns the
// same object; the caller must not change it.
KTUTILS_EXPORT const KTUVersion& GetKTUVersion();
