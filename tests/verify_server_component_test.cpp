// The library's result rule and its handling of the trust provider, proven
// with a test provider whose answer each test chooses. The library code runs
// from a copy placed in a fresh folder with the chosen provider beside it,
// exactly where the library looks for it.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include "tests/trust_probe.h"

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

TrustProbe* g_probe = nullptr;
bool g_failWidePathAllocation = false;

}  // namespace

extern "C" __attribute__((visibility("default"))) TrustProbe* KtutilsTestTrustProbe() { return g_probe; }

// Lets a test make the library's one allocation, the 520-byte wide path
// buffer, fail. Everything else goes to the usual allocator, so the sanitizers
// still pair it with delete[].
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failWidePathAllocation && size == 520) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

class MockTrustProbe : public TrustProbe {
public:
    MOCK_METHOD(void, Loaded, (), (override));
    MOCK_METHOD(void, Unloaded, (), (override));
    MOCK_METHOD(LONG, WinVerifyTrust, (HWND hwnd, GUID* action, WINTRUST_DATA* data), (override));
};

enum class Provider { kNone, kFull, kWithoutEntry };

// The library's verification, installed in a folder of its own with the
// chosen provider beside it as libwintrust.so.
class InstalledVerification {
public:
    explicit InstalledVerification(Provider provider) {
        // In the build tree rather than the temporary directory, which may
        // not allow loading code from it.
        fs::create_directories(KTUTILS_VERIFY_SCRATCH);
        std::string pattern = (fs::path(KTUTILS_VERIFY_SCRATCH) / "installed-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_directory = pattern;
        fs::copy_file(KTUTILS_VERIFY_UNDER_TEST, m_directory / "libktutils-verify.so");
        if (provider == Provider::kFull)
            fs::copy_file(KTUTILS_TEST_PROVIDER, ProviderPath());
        else if (provider == Provider::kWithoutEntry)
            fs::copy_file(KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY, ProviderPath());
        m_module = dlopen((m_directory / "libktutils-verify.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_module == nullptr) throw std::runtime_error(dlerror());
        m_verify = reinterpret_cast<Entry>(dlsym(m_module, "KtutilsVerifyUnderTest"));
        if (m_verify == nullptr) throw std::runtime_error("no KtutilsVerifyUnderTest");
    }
    InstalledVerification(const InstalledVerification&) = delete;
    InstalledVerification& operator=(const InstalledVerification&) = delete;
    ~InstalledVerification() {
        dlclose(m_module);
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }

    int Verify(const char* path, uint32_t uiChoice, int acceptProviderUnknown) {
        std::string copy = path;  // the library takes a non-const pointer
        return m_verify(copy.data(), uiChoice, acceptProviderUnknown);
    }
    int Verify(std::nullptr_t, uint32_t uiChoice, int acceptProviderUnknown) {
        return m_verify(nullptr, uiChoice, acceptProviderUnknown);
    }

    // Whether the provider is still in the process.
    bool ProviderLoaded() const {
        void* handle = dlopen(ProviderPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) dlclose(handle);
        return handle != nullptr;
    }

private:
    using Entry = int (*)(char*, uint32_t, int);
    fs::path ProviderPath() const { return m_directory / "libwintrust.so"; }

    fs::path m_directory;
    void* m_module = nullptr;
    Entry m_verify = nullptr;
};

// What the provider received, copied out while the call lasts.
struct Received {
    bool windowIsNull = false;
    GUID action{};
    WINTRUST_DATA data{};
    WINTRUST_FILE_INFO file{};
    std::u16string path;
};

class VerifyServerComponentTest : public ::testing::Test {
protected:
    void SetUp() override { g_probe = &m_probe; }
    void TearDown() override {
        g_probe = nullptr;
        g_failWidePathAllocation = false;
    }

    // One call's whole conversation with the provider, in order: loaded,
    // asked (answering `status`), released.
    void ExpectOneCheck(LONG status, Received* received = nullptr) {
        InSequence inOrder;
        EXPECT_CALL(m_probe, Loaded());
        EXPECT_CALL(m_probe, WinVerifyTrust(_, _, _))
            .WillOnce(Invoke([status, received](HWND hwnd, GUID* action, WINTRUST_DATA* data) {
                if (received != nullptr) {
                    received->windowIsNull = hwnd == nullptr;
                    received->action = *action;
                    received->data = *data;
                    received->file = *data->pFile;
                    received->path = data->pFile->pcwszFilePath;
                }
                return status;
            }));
        EXPECT_CALL(m_probe, Unloaded());
    }
    void ExpectLoadedAndReleasedOnly() {
        InSequence inOrder;
        EXPECT_CALL(m_probe, Loaded());
        EXPECT_CALL(m_probe, Unloaded());
    }

    StrictMock<MockTrustProbe> m_probe;
};

TEST_F(VerifyServerComponentTest, WithoutATrustProviderNothingIsAccepted) {
    InstalledVerification library(Provider::kNone);
    EXPECT_EQ(library.Verify("component.dll", WTD_UI_NONE, 0), 0);
    EXPECT_EQ(library.Verify("component.dll", WTD_UI_NONE, 1), 0);
}

TEST_F(VerifyServerComponentTest, AProviderWithoutWinVerifyTrustIsReleasedAndNothingIsAccepted) {
    InstalledVerification library(Provider::kWithoutEntry);
    for (int acceptProviderUnknown : {0, 1}) {
        ExpectLoadedAndReleasedOnly();
        EXPECT_EQ(library.Verify("component.dll", WTD_UI_NONE, acceptProviderUnknown), 0);
        EXPECT_FALSE(library.ProviderLoaded());
        ::testing::Mock::VerifyAndClearExpectations(&m_probe);
    }
}

TEST_F(VerifyServerComponentTest, AcceptsSuccessAlwaysAndProviderUnknownOnlyWhenAskedTo) {
    struct Case {
        LONG status;
        int acceptProviderUnknown;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 1},
        {0, 1, 1},
        {static_cast<LONG>(0x800B0001), 0, 0},
        {static_cast<LONG>(0x800B0001), 1, 1},
        {static_cast<LONG>(0x800B0001), -1, 1},  // any non-zero flag
        {static_cast<LONG>(0x800B0100), 1, 0},   // unsigned
        {static_cast<LONG>(0x800B0109), 1, 0},   // untrusted root
        {static_cast<LONG>(0x80070002), 1, 0},   // file not found
        {static_cast<LONG>(0x800B0002), 1, 0},   // the neighbours of provider-unknown
        {static_cast<LONG>(0x800B0000), 1, 0},
        {1, 1, 0},
        {-1, 1, 0},
    };
    InstalledVerification library(Provider::kFull);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "status 0x" << static_cast<uint32_t>(c.status)
                                          << " flag " << c.acceptProviderUnknown);
        ExpectOneCheck(c.status);
        EXPECT_EQ(library.Verify("component.dll", WTD_UI_NONE, c.acceptProviderUnknown), c.expected);
        EXPECT_FALSE(library.ProviderLoaded());
        ::testing::Mock::VerifyAndClearExpectations(&m_probe);
    }
}

TEST_F(VerifyServerComponentTest, HandsTheUiChoiceOnUnchanged) {
    InstalledVerification library(Provider::kFull);
    const uint32_t choices[] = {WTD_UI_ALL, WTD_UI_NONE, WTD_UI_NOBAD, WTD_UI_NOGOOD, 0, 0xFFFFFFFF};
    for (uint32_t choice : choices) {
        SCOPED_TRACE(choice);
        Received received;
        ExpectOneCheck(0, &received);
        library.Verify("component.dll", choice, 0);
        EXPECT_EQ(received.data.dwUIChoice, choice);
        ::testing::Mock::VerifyAndClearExpectations(&m_probe);
    }
}

TEST_F(VerifyServerComponentTest, FillsThePublishedRecordsForTheGenericVerifyAction) {
    InstalledVerification library(Provider::kFull);
    Received received;
    ExpectOneCheck(0, &received);
    ASSERT_EQ(library.Verify("servers/component.dll", WTD_UI_NOGOOD, 0), 1);

    EXPECT_TRUE(received.windowIsNull);
    // {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
    EXPECT_EQ(received.action.Data1, 0x00AAC56Bu);
    EXPECT_EQ(received.action.Data2, 0xCD44);
    EXPECT_EQ(received.action.Data3, 0x11D0);
    const BYTE data4[8] = {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE};
    EXPECT_EQ(std::memcmp(received.action.Data4, data4, 8), 0);

    // The eleven-field form: 44 bytes with 4-byte pointers, 76 with 8-byte
    // ones and their padding.
    EXPECT_EQ(received.data.cbStruct, sizeof(void*) == 8 ? 76u : 44u);
    EXPECT_EQ(received.data.pPolicyCallbackData, nullptr);
    EXPECT_EQ(received.data.pSIPClientData, nullptr);
    EXPECT_EQ(received.data.fdwRevocationChecks, 0u);
    EXPECT_EQ(received.data.dwUnionChoice, 1u);
    EXPECT_EQ(received.data.dwStateAction, 0u);
    EXPECT_EQ(received.data.hWVTStateData, nullptr);
    EXPECT_EQ(received.data.pwszURLReference, nullptr);
    EXPECT_EQ(received.data.dwProvFlags, 0u);

    EXPECT_EQ(received.file.cbStruct, sizeof(void*) == 8 ? 32u : 16u);
    EXPECT_EQ(received.file.hFile, nullptr);
    EXPECT_EQ(received.file.pgKnownSubject, nullptr);
    EXPECT_EQ(received.path, u"servers/component.dll");
}

TEST_F(VerifyServerComponentTest, HandsTheProviderThePathInUtf16) {
    InstalledVerification library(Provider::kFull);
    Received received;
    ExpectOneCheck(0, &received);
    // e-acute is one UTF-16 unit, the emoji a surrogate pair.
    library.Verify("caf\xC3\xA9/\xF0\x9F\x98\x80.dll", WTD_UI_NONE, 0);
    EXPECT_EQ(received.path, u"caf\u00E9/\U0001F600.dll");
}

TEST_F(VerifyServerComponentTest, RefusesAPathWhoseWideFormDoesNotFitWithoutAskingTheProvider) {
    InstalledVerification library(Provider::kFull);
    // 259 characters and the terminator fill the 260-character buffer.
    Received received;
    ExpectOneCheck(0, &received);
    EXPECT_EQ(library.Verify(std::string(259, 'a').c_str(), WTD_UI_NONE, 0), 1);
    EXPECT_EQ(received.path.size(), 259u);
    ::testing::Mock::VerifyAndClearExpectations(&m_probe);

    ExpectLoadedAndReleasedOnly();
    EXPECT_EQ(library.Verify(std::string(260, 'a').c_str(), WTD_UI_NONE, 1), 0);
    ::testing::Mock::VerifyAndClearExpectations(&m_probe);

    // A surrogate pair takes two places: 257 + 2 fits, 258 + 2 does not.
    ExpectOneCheck(0);
    EXPECT_EQ(library.Verify((std::string(257, 'a') + "\xF0\x9F\x98\x80").c_str(), WTD_UI_NONE, 0), 1);
    ::testing::Mock::VerifyAndClearExpectations(&m_probe);
    ExpectLoadedAndReleasedOnly();
    EXPECT_EQ(library.Verify((std::string(258, 'a') + "\xF0\x9F\x98\x80").c_str(), WTD_UI_NONE, 0), 0);
}

TEST_F(VerifyServerComponentTest, ANullPathIsRefusedAndTheProviderReleased) {
    InstalledVerification library(Provider::kFull);
    ExpectLoadedAndReleasedOnly();
    EXPECT_EQ(library.Verify(nullptr, WTD_UI_NONE, 1), 0);
}

TEST_F(VerifyServerComponentTest, AFailedBufferAllocationIsRefusedAndTheProviderReleased) {
    InstalledVerification library(Provider::kFull);
    ExpectLoadedAndReleasedOnly();
    g_failWidePathAllocation = true;
    EXPECT_EQ(library.Verify("component.dll", WTD_UI_NONE, 1), 0);
}

TEST_F(VerifyServerComponentTest, LoadsTheProviderAfreshForEveryCall) {
    InstalledVerification library(Provider::kFull);
    ExpectOneCheck(0);
    EXPECT_EQ(library.Verify("first.dll", WTD_UI_NONE, 0), 1);
    EXPECT_FALSE(library.ProviderLoaded());
    ::testing::Mock::VerifyAndClearExpectations(&m_probe);
    ExpectOneCheck(static_cast<LONG>(0x800B0100));
    EXPECT_EQ(library.Verify("second.dll", WTD_UI_NONE, 0), 0);
    EXPECT_FALSE(library.ProviderLoaded());
}

}  // namespace
