#include "ktutils/library/ktu_version.h"

namespace {
// Constant-initialised: it holds its value before any code of the process
// runs, so no caller can ever see it unset, whatever the load order.
constexpr KTUVersion kLibraryVersion(0, 0, 0, 3);
}  // namespace

const KTUVersion& GetKTUVersion() { return kLibraryVersion; }
