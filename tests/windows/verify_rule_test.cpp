// VerifyServerComponent against a fake trust service that the Windows loader
// hands it in place of the system's: the records exactly as they reach the
// trust service on this target, and the result rule over its answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <softpub.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ktutils/library/verify_server_component.h"
#include "tests/windows/fake_wintrust.h"

namespace {

class FakeTrustService : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::SetDllDirectoryA(KTUTILS_FAKE_WINTRUST_DIR));
        m_module = ::LoadLibraryA("wintrust.dll");
        ASSERT_NE(m_module, nullptr);
        m_answer = reinterpret_cast<FakeTrustAnswerFunction>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, "KtutilsFakeTrustAnswer")));
        m_lastCall = reinterpret_cast<FakeTrustLastCallFunction>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, "KtutilsFakeTrustLastCall")));
        ASSERT_TRUE(m_answer != nullptr && m_lastCall != nullptr)
            << "the system's wintrust.dll was loaded, not the fake: run with WINEDLLOVERRIDES=wintrust=n";
    }
    void TearDown() override {
        if (m_module != nullptr) ::FreeLibrary(m_module);
        ::SetDllDirectoryA(nullptr);
    }

    int Verify(std::string path, std::uint32_t uiChoice, int acceptProviderUnknown, LONG answer) {
        m_answer(answer);
        return VerifyServerComponent(path.data(), uiChoice, acceptProviderUnknown);
    }
    const FakeTrustCall& LastCall() const { return *m_lastCall(); }

private:
    HMODULE m_module = nullptr;
    FakeTrustAnswerFunction m_answer = nullptr;
    FakeTrustLastCallFunction m_lastCall = nullptr;
};

TEST_F(FakeTrustService, TheRecordsReachTheTrustServiceInTheirPublishedForm) {
    ASSERT_EQ(Verify("C:\\servers\\component.dll", WTD_UI_NOGOOD, 0, 0), 1);
    const FakeTrustCall& call = LastCall();
    EXPECT_EQ(call.calls, 1);
    EXPECT_TRUE(call.windowIsNull);
    const GUID genericVerifyV2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EXPECT_EQ(std::memcmp(&call.action, &genericVerifyV2, sizeof(GUID)), 0);

    // The eleven-field form: 44 bytes on 32-bit Windows.
    const DWORD elevenFields = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
    EXPECT_EQ(call.data.cbStruct, elevenFields);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(call.data.cbStruct, 44u);
    }
    EXPECT_EQ(call.data.pPolicyCallbackData, nullptr);
    EXPECT_EQ(call.data.pSIPClientData, nullptr);
    EXPECT_EQ(call.data.dwUIChoice, static_cast<DWORD>(WTD_UI_NOGOOD));
    EXPECT_EQ(call.data.fdwRevocationChecks, static_cast<DWORD>(WTD_REVOKE_NONE));
    EXPECT_EQ(call.data.dwUnionChoice, static_cast<DWORD>(WTD_CHOICE_FILE));
    EXPECT_TRUE(call.fileGiven);
    EXPECT_EQ(call.data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_IGNORE));
    EXPECT_EQ(call.data.hWVTStateData, nullptr);
    EXPECT_EQ(call.data.pwszURLReference, nullptr);
    EXPECT_EQ(call.data.dwProvFlags, 0u);

    EXPECT_EQ(call.file.cbStruct, sizeof(WINTRUST_FILE_INFO));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(call.file.cbStruct, 16u);
    }
    EXPECT_EQ(call.file.hFile, nullptr);
    EXPECT_EQ(call.file.pgKnownSubject, nullptr);
    EXPECT_EQ(std::wstring(call.path), L"C:\\servers\\component.dll");
}

TEST_F(FakeTrustService, OnlySuccessOrAnAcceptedUnknownProviderAccepts) {
    const std::string path = "C:\\servers\\component.dll";
    EXPECT_EQ(Verify(path, WTD_UI_NONE, 0, ERROR_SUCCESS), 1);
    EXPECT_EQ(Verify(path, WTD_UI_NONE, 0, TRUST_E_PROVIDER_UNKNOWN), 0);
    EXPECT_EQ(Verify(path, WTD_UI_NONE, 1, TRUST_E_PROVIDER_UNKNOWN), 1);
    for (LONG refusal : {TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_NOT_TRUSTED, TRUST_E_EXPLICIT_DISTRUST,
                         CERT_E_UNTRUSTEDROOT, TRUST_E_BAD_DIGEST, static_cast<LONG>(1), static_cast<LONG>(-1)}) {
        EXPECT_EQ(Verify(path, WTD_UI_NONE, 0, refusal), 0) << std::hex << refusal;
        EXPECT_EQ(Verify(path, WTD_UI_NONE, 1, refusal), 0) << std::hex << refusal;
    }
    EXPECT_EQ(LastCall().calls, 17);
}

TEST_F(FakeTrustService, APathThatDoesNotFitIsRefusedBeforeTheTrustServiceIsAsked) {
    const std::string fits(MAX_PATH - 1, 'a');
    EXPECT_EQ(Verify(fits, WTD_UI_NONE, 0, ERROR_SUCCESS), 1);
    EXPECT_EQ(std::wstring(LastCall().path).size(), fits.size());
    const LONG callsBefore = LastCall().calls;
    EXPECT_EQ(Verify(std::string(MAX_PATH, 'a'), WTD_UI_NONE, 0, ERROR_SUCCESS), 0);
    EXPECT_EQ(LastCall().calls, callsBefore);
}

}  // namespace
