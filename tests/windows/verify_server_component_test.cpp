// VerifyServerComponent against the system's own trust service: Windows', or
// Wine's under the test runner. What any trust service must refuse is
// refused, for the reason it gives.
#include <gtest/gtest.h>

#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "ktutils/library/verify_server_component.h"
#include "tests/temp_dir.h"

namespace {

constexpr std::uint32_t kNoUi = WTD_UI_NONE;

std::string ThisProgram() {
    std::vector<char> path(MAX_PATH * 4);
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::string(path.data(), length);
}

// The trust service's own answer for a file, with the records filled as the
// library fills them, to tell why the library said 0.
LONG TrustServiceStatus(const std::string& path) {
    std::wstring wide(path.begin(), path.end());
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return ::WinVerifyTrust(nullptr, &action, &data);
}

int Verify(std::string path, std::uint32_t uiChoice, int acceptProviderUnknown) {
    return VerifyServerComponent(path.data(), uiChoice, acceptProviderUnknown);
}

TEST(VerifyServerComponentOnWindows, AnUnsignedProgramIsRefused) {
    // This test program is a valid, unsigned PE image.
    const std::string program = ThisProgram();
    ASSERT_EQ(TrustServiceStatus(program), static_cast<LONG>(TRUST_E_NOSIGNATURE));
    EXPECT_EQ(Verify(program, kNoUi, 0), 0);
    // Accepting an unknown provider does not accept a missing signature.
    EXPECT_EQ(Verify(program, kNoUi, 1), 0);
}

TEST(VerifyServerComponentOnWindows, WhatIsNotASignedImageIsRefused) {
    TempDir dir;
    const std::string text = dir.Path("component.txt");
    std::ofstream(text) << "not a program";
    EXPECT_EQ(Verify(text, kNoUi, 0), 0);
    EXPECT_EQ(Verify(dir.Path("absent.dll"), kNoUi, 0), 0);
    EXPECT_EQ(Verify(dir.Root().string(), kNoUi, 0), 0);
}

TEST(VerifyServerComponentOnWindows, APathLongerThanMaxPathIsRefusedNotCut) {
    // Refused by the library itself, before the trust service sees a path
    // cut short that could name some other file.
    const std::string longPath = ThisProgram() + std::string(MAX_PATH, 'x');
    EXPECT_EQ(Verify(longPath, kNoUi, 0), 0);
}

}  // namespace
