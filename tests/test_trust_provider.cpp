// A stand-in trust provider for the library's own tests: it returns what the
// test's probe says and reports every load, unload and call to it. Built
// twice: as a full provider, and with KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY as
// a module that lacks WinVerifyTrust.
#include "tests/trust_probe.h"

namespace {

__attribute__((constructor)) void ReportLoad() {
    if (TrustProbe* probe = KtutilsTestTrustProbe()) probe->Loaded();
}

__attribute__((destructor)) void ReportUnload() {
    if (TrustProbe* probe = KtutilsTestTrustProbe()) probe->Unloaded();
}

}  // namespace

#ifndef KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* pgActionID,
                                                                             LPVOID pWVTData) {
    TrustProbe* probe = KtutilsTestTrustProbe();
    // No listener: a status that no rule accepts.
    if (probe == nullptr) return TRUST_E_FAIL;
    return probe->WinVerifyTrust(hwnd, pgActionID, static_cast<WINTRUST_DATA*>(pWVTData));
}
#endif
