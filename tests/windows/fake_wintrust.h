#pragma once

#include <windows.h>

#include <wintrust.h>

// What the fake trust service saw of its last WinVerifyTrust call: the
// records as they were while the call lasted (the record copied only as far
// as its cbStruct says, the rest zero).
struct FakeTrustCall {
    LONG calls = 0;
    bool windowIsNull = false;
    GUID action{};
    WINTRUST_DATA data{};
    bool fileGiven = false;  // the record's pFile, which dies with the call
    WINTRUST_FILE_INFO file{};
    WCHAR path[MAX_PATH + 1] = {};
};

// Exported by the fake under these names, found with GetProcAddress.
using FakeTrustAnswerFunction = void (*)(LONG status);
using FakeTrustLastCallFunction = const FakeTrustCall* (*)();
