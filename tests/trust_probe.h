#pragma once

#include <string>

#include "host/win32/wintrust.h"

// What the test trust provider reports to the test program that loaded it,
// which exports KtutilsTestTrustProbe: its loads and unloads (from its
// constructor and destructor, so they follow the loader) and its calls, with
// copies of their records. Each call gets `answer`.
struct TrustProbe {
    int loads = 0, unloads = 0, calls = 0;
    LONG answer = 0;
    bool windowIsNull = false;
    GUID action{};
    WINTRUST_DATA data{};
    WINTRUST_FILE_INFO file{};
    std::u16string path;
};

extern "C" TrustProbe* KtutilsTestTrustProbe();
