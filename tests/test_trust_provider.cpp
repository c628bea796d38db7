// A stand-in trust provider that reports to the test's probe. Built twice: in
// full, and with KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY as a module without
// WinVerifyTrust.
#include "tests/trust_probe.h"

__attribute__((constructor)) static void ReportLoad() {
    if (TrustProbe* probe = KtutilsTestTrustProbe()) probe->Loaded();
}
__attribute__((destructor)) static void ReportUnload() {
    if (TrustProbe* probe = KtutilsTestTrustProbe()) probe->Unloaded();
}

#ifndef KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* action, LPVOID data) {
    TrustProbe* probe = KtutilsTestTrustProbe();
    return probe == nullptr ? TRUST_E_FAIL : probe->WinVerifyTrust(hwnd, action, static_cast<WINTRUST_DATA*>(data));
}
#endif
