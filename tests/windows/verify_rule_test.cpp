// VerifyServerComponent against a fake trust service that Wine's loader hands
// it in place of the system's (WINEDLLOVERRIDES=wintrust=n): the records as
// they reach the trust service on this target, and the rule over its answers.
#include <gtest/gtest.h>

#include "tests/windows/fake_wintrust.h"  // windows.h first

#include <softpub.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "library/verify_server_component.h"

namespace {

using FakeFunction = const FakeTrustCall* (*)(LONG nextAnswer);

class FakeTrustService : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::SetDllDirectoryA(KTUTILS_FAKE_WINTRUST_DIR));
        m_module = ::LoadLibraryA("wintrust.dll");
        m_fake = reinterpret_cast<FakeFunction>(reinterpret_cast<void*>(::GetProcAddress(m_module, "KtutilsFakeTrust")));
        ASSERT_NE(m_fake, nullptr) << "the system's wintrust.dll was loaded, not the fake";
    }
    void TearDown() override {
        ::FreeLibrary(m_module);
        ::SetDllDirectoryA(nullptr);
    }
    // The library's result with the fake answering `answer`, and whether the fake was asked.
    std::pair<int, bool> Verify(std::string path, std::uint32_t uiChoice, int acceptProviderUnknown, LONG answer) {
        const LONG before = m_fake(answer)->calls;
        const int result = VerifyServerComponent(path.data(), uiChoice, acceptProviderUnknown);
        return {result, m_fake(0)->calls == before + 1};
    }
    HMODULE m_module = nullptr;
    FakeFunction m_fake = nullptr;
};

TEST_F(FakeTrustService, RecordsReachTheTrustServiceInTheirPublishedForm) {
    ASSERT_EQ(Verify("C:\\servers\\component.dll", WTD_UI_NOGOOD, 0, 0), std::make_pair(1, true));
    const FakeTrustCall& call = *m_fake(0);
    const GUID genericVerifyV2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EXPECT_TRUE(call.windowIsNull);
    EXPECT_EQ(std::memcmp(&call.action, &genericVerifyV2, sizeof(GUID)), 0);
    const WINTRUST_DATA& d = call.data;  // the eleven-field form, 44 bytes on 32-bit Windows
    EXPECT_EQ(d.cbStruct, sizeof(void*) == 4 ? 44u : 76u);
    EXPECT_TRUE(!d.pPolicyCallbackData && !d.pSIPClientData && !d.hWVTStateData && !d.pwszURLReference);
    EXPECT_EQ(d.dwUIChoice, DWORD{WTD_UI_NOGOOD});
    EXPECT_EQ(d.fdwRevocationChecks | d.dwStateAction | d.dwProvFlags, 0u);
    EXPECT_EQ(d.dwUnionChoice, DWORD{WTD_CHOICE_FILE});
    EXPECT_EQ(call.file.cbStruct, sizeof(void*) == 4 ? 16u : 32u);
    EXPECT_TRUE(!call.file.hFile && !call.file.pgKnownSubject);
    EXPECT_EQ(std::wstring(call.path), L"C:\\servers\\component.dll");
}

TEST_F(FakeTrustService, OnlySuccessOrAnAcceptedUnknownProviderAccepts) {
    const std::string path = "C:\\c.dll", fits(MAX_PATH - 1, 'a');
    const struct {
        std::string path;
        LONG answer;
        int acceptProviderUnknown, result;
    } cases[] = {{path, ERROR_SUCCESS, 0, 1}, {path, TRUST_E_PROVIDER_UNKNOWN, 0, 0},
                 {path, TRUST_E_PROVIDER_UNKNOWN, 1, 1}, {path, TRUST_E_NOSIGNATURE, 1, 0},
                 {path, CERT_E_UNTRUSTEDROOT, 1, 0}, {path, TRUST_E_BAD_DIGEST, 1, 0}, {path, -1, 1, 0},
                 {fits, ERROR_SUCCESS, 0, 1}, {fits + "a", ERROR_SUCCESS, 0, 0}};  // refused before asking
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.answer << " " << c.acceptProviderUnknown << " " << c.path);
        EXPECT_EQ(Verify(c.path, WTD_UI_NONE, c.acceptProviderUnknown, c.answer),
                  std::make_pair(c.result, c.path.size() < MAX_PATH));
    }
}

}  // namespace
