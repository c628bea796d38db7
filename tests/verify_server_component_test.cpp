// VerifyServerComponent's rule and its use of the trust provider, against a
// test provider whose answer each case chooses. The library's code runs from
// a copy in a fresh folder with the chosen provider beside it, where the
// library looks for "wintrust.dll".
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <tuple>

#include "tests/trust_probe.h"

namespace fs = std::filesystem;
using namespace ::testing;

namespace {
TrustProbe* g_probe = nullptr;
bool g_failWidePath = false;
}  // namespace

extern "C" __attribute__((visibility("default"))) TrustProbe* KtutilsTestTrustProbe() { return g_probe; }

// Fails the library's one allocation, the 520-byte wide path, on demand.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failWidePath && size == 520) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

constexpr const char* kProvider = KTUTILS_TEST_PROVIDER;
constexpr const char* kWithoutEntry = KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY;
constexpr LONG kProviderUnknown = static_cast<LONG>(0x800B0001);

struct MockProbe : TrustProbe {
    MOCK_METHOD(void, Loaded, (), (override));
    MOCK_METHOD(void, Unloaded, (), (override));
    MOCK_METHOD(LONG, WinVerifyTrust, (HWND, GUID*, WINTRUST_DATA*), (override));
};

// Calls the library's verification installed in a fresh folder (in the build
// tree: the temporary folder may forbid running code) beside `provider`.
int InstalledVerify(const char* provider, const char* path, uint32_t uiChoice, int acceptProviderUnknown) {
    fs::create_directories(KTUTILS_VERIFY_SCRATCH);
    std::string folder = KTUTILS_VERIFY_SCRATCH "/installed-XXXXXX", copy = path == nullptr ? "" : path;
    const fs::path dir = mkdtemp(folder.data()), library = dir / "libktutils-verify.so";
    fs::copy_file(KTUTILS_VERIFY_UNDER_TEST, library);
    if (*provider != 0) fs::copy_file(provider, dir / "libwintrust.so");
    void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto verify = reinterpret_cast<int (*)(char*, uint32_t, int)>(
        dlsym(module, "_Z21VerifyServerComponentPcji"));  // VerifyServerComponent(char*, unsigned int, int)
    const int result = verify(path == nullptr ? nullptr : copy.data(), uiChoice, acceptProviderUnknown);
    // Released by the library before it returned: RTLD_NOLOAD finds nothing.
    EXPECT_EQ(dlopen((dir / "libwintrust.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    dlclose(module);
    fs::remove_all(dir);
    return result;
}

class VerifyServerComponentTest : public Test {
protected:
    void SetUp() override { g_probe = &m_probe; }
    void TearDown() override { g_probe = nullptr; }
    StrictMock<MockProbe> m_probe;
};

TEST_F(VerifyServerComponentTest, AcceptsSuccessAlwaysAndProviderUnknownOnlyWhenAskedTo) {
    // 259 characters and the terminator fill the 260 places; the emoji takes two.
    const std::string fits(259, 'a'), emoji = "\xF0\x9F\x98\x80", tooLong = fits + "a";
    const std::string pairFits = fits.substr(2) + emoji, pairTooLong = fits.substr(1) + emoji;
    const struct {
        const char* provider;  // "" for none
        const char* path;
        LONG status;  // the provider's answer, or -2 when it must not be asked
        int acceptProviderUnknown, result;
        bool failAllocation = false;
    } cases[] = {
        {"", "c.dll", -2, 1, 0}, {kWithoutEntry, "c.dll", -2, 1, 0}, {kProvider, "c.dll", 0, 0, 1},
        {kProvider, "c.dll", 0, 1, 1}, {kProvider, "c.dll", kProviderUnknown, 0, 0},
        {kProvider, "c.dll", kProviderUnknown, 1, 1}, {kProvider, "c.dll", kProviderUnknown, -1, 1},
        {kProvider, "c.dll", kProviderUnknown + 1, 1, 0}, {kProvider, "c.dll", kProviderUnknown - 1, 1, 0},
        {kProvider, "c.dll", static_cast<LONG>(0x800B0100), 1, 0}, {kProvider, "c.dll", 1, 1, 0},
        {kProvider, fits.c_str(), 0, 0, 1}, {kProvider, tooLong.c_str(), -2, 1, 0},
        {kProvider, pairFits.c_str(), 0, 0, 1}, {kProvider, pairTooLong.c_str(), -2, 1, 0},
        {kProvider, nullptr, -2, 1, 0}, {kProvider, "c.dll", -2, 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Message() << c.provider << " " << std::hex << c.status << " " << c.acceptProviderUnknown << " "
                               << (c.path == nullptr ? 0 : std::strlen(c.path)));
        {
            InSequence inOrder;
            if (*c.provider != 0) EXPECT_CALL(m_probe, Loaded());
            if (c.status != -2) EXPECT_CALL(m_probe, WinVerifyTrust(_, _, _)).WillOnce(Return(c.status));
            if (*c.provider != 0) EXPECT_CALL(m_probe, Unloaded());
        }
        g_failWidePath = c.failAllocation;
        EXPECT_EQ(InstalledVerify(c.provider, c.path, WTD_UI_NONE, c.acceptProviderUnknown), c.result);
        g_failWidePath = false;
        Mock::VerifyAndClearExpectations(&m_probe);
    }
}

TEST_F(VerifyServerComponentTest, AsksForTheGenericVerifyActionWithThePublishedRecords) {
    for (uint32_t uiChoice : {1u, 2u, 3u, 4u, 0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(uiChoice);
        InSequence inOrder;
        EXPECT_CALL(m_probe, Loaded());
        EXPECT_CALL(m_probe, WinVerifyTrust(IsNull(), _, _)).WillOnce([uiChoice](HWND, GUID* a, WINTRUST_DATA* d) {
            const GUID generic = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
            EXPECT_EQ(std::memcmp(a, &generic, sizeof generic), 0);
            // The eleven-field form: 44 bytes with 4-byte pointers, 76 with 8-byte ones.
            EXPECT_EQ(std::tie(d->cbStruct, d->pPolicyCallbackData, d->pSIPClientData, d->dwUIChoice,
                               d->fdwRevocationChecks, d->dwUnionChoice, d->dwStateAction, d->hWVTStateData,
                               d->pwszURLReference, d->dwProvFlags),
                      std::make_tuple(sizeof(void*) == 8 ? 76u : 44u, nullptr, nullptr, uiChoice, 0u, 1u, 0u,
                                      nullptr, nullptr, 0u));
            const WINTRUST_FILE_INFO& f = *d->pFile;
            EXPECT_EQ(std::tie(f.cbStruct, f.hFile, f.pgKnownSubject), std::make_tuple(sizeof(void*) == 8 ? 32u : 16u, nullptr, nullptr));
            EXPECT_EQ(std::u16string(d->pFile->pcwszFilePath), u"servers/caf\u00E9/\U0001F600.dll");
            return 0;
        });
        EXPECT_CALL(m_probe, Unloaded());
        EXPECT_EQ(InstalledVerify(kProvider, "servers/caf\xC3\xA9/\xF0\x9F\x98\x80.dll", uiChoice, 0), 1);
        Mock::VerifyAndClearExpectations(&m_probe);
    }
}

}  // namespace
