#pragma once

#include "host/win32/wintrust.h"

// What the test trust provider reports to the test that loaded it: its loads
// and unloads (from its constructor and destructor, so they follow the loader)
// and each call, whose answer the test chooses.
struct TrustProbe {
    virtual ~TrustProbe() = default;
    virtual void Loaded() = 0;
    virtual void Unloaded() = 0;
    virtual LONG WinVerifyTrust(HWND hwnd, GUID* action, WINTRUST_DATA* data) = 0;
};

// Exported by the test program; null while no test listens.
extern "C" TrustProbe* KtutilsTestTrustProbe();
