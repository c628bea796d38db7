#pragma once

#include <cstdint>

namespace ktutils::tool {

// What a trust service's status means: its constant's name
// ("TRUST_E_NOSIGNATURE") and the reason in plain words ("the file is not
// signed"). A status without an entry has the name "UNKNOWN_STATUS" and a
// reason that says so.
struct TrustReason {
    const char* name;
    const char* reason;
};
TrustReason DescribeTrustStatus(int32_t status);

}  // namespace ktutils::tool
