// A stand-in trust provider that reports to the test program's probe; built also with
// KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY, as a module without WinVerifyTrust. In a program without a probe (planted
// where no program may look for the provider) it trusts everything.
#include "tests/signature/trust_probe.h"

extern "C" __attribute__((weak)) TrustProbe* KtutilsTestTrustProbe();
static TrustProbe* Probe() { static TrustProbe none; return KtutilsTestTrustProbe ? KtutilsTestTrustProbe() : &none; }

__attribute__((constructor)) static void ReportLoad() { ++Probe()->loads; }
__attribute__((destructor)) static void ReportUnload() { ++Probe()->unloads; }

#ifndef KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* action, LPVOID data) {
    TrustProbe& probe = *Probe();
    const auto& record = *static_cast<const WINTRUST_DATA*>(data);
    probe.calls++, probe.windowIsNull = hwnd == nullptr, probe.action = *action, probe.data = record;
    probe.file = *record.pFile, probe.path = record.pFile->pcwszFilePath;
    return probe.answer;
}
#endif
