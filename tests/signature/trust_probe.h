#pragma once

#include <string>

#include "ktutils/host/win32/wintrust.h"

// What the test provider reports to the test program that loaded it (which exports KtutilsTestTrustProbe):
// its loads and unloads, from its constructor and destructor, and copies of its calls' records.
struct TrustProbe {
    int loads = 0, unloads = 0, calls = 0;
    LONG answer = 0;  // to each call
    bool windowIsNull = false;
    GUID action{};
    WINTRUST_DATA data{};
    WINTRUST_FILE_INFO file{};
    std::u16string path;
};
extern "C" TrustProbe* KtutilsTestTrustProbe();
