#pragma once

#include "ktutils/host/win32/wintrust.h"

// What the test trust provider reports to the test that loaded it: its loads
// and unloads (from its constructor and destructor, so they track the loader,
// not the library's calls) and each WinVerifyTrust call, whose result the
// test chooses. The records are only valid during the call.
class TrustProbe {
public:
    virtual ~TrustProbe() = default;
    virtual void Loaded() = 0;
    virtual void Unloaded() = 0;
    virtual LONG WinVerifyTrust(HWND hwnd, GUID* action, WINTRUST_DATA* data) = 0;
};

// Defined by the test executable and exported from it; null while no test is
// listening.
extern "C" TrustProbe* KtutilsTestTrustProbe();
