#pragma once

#include <windows.h>

#include <wintrust.h>

// What the fake trust service saw of its last call, copied while it lasted
// (the record only as far as its cbStruct says).
struct FakeTrustCall {
    LONG calls = 0;
    bool windowIsNull = false;
    GUID action{};
    WINTRUST_DATA data{};
    WINTRUST_FILE_INFO file{};
    WCHAR path[MAX_PATH + 1] = {};
};
