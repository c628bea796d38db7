// VerifyServerComponent's rule and its use of the trust provider, and VerifyFile's, which must ask alike and pass the
// status on, against a test provider whose answer each case chooses.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <tuple>
#include <utility>

#include "ktutils/library/verify_file.h"
#include "tests/signature/trust_probe.h"

namespace fs = std::filesystem;

static TrustProbe g_probe;
static bool g_failWidePath = false;

extern "C" __attribute__((visibility("default"))) TrustProbe* KtutilsTestTrustProbe() { return &g_probe; }

// Fails the library's one allocation, the 520-byte wide path, on demand.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try { return g_failWidePath && size == 520 ? nullptr : ::operator new[](size); } catch (...) { return nullptr; }
}

namespace {

constexpr const char* kProvider = KTUTILS_TEST_PROVIDER;
constexpr LONG kProviderUnknown = static_cast<LONG>(0x800B0001);

// The library's verification, installed in a fresh folder (in the build tree: the temporary folder may
// forbid running code) beside `provider`, whose probe answers `answer`: VerifyServerComponent's result, or
// with `file` VerifyFile's verdict and status.
std::pair<int, uint32_t> InstalledVerify(bool file, const char* provider, const char* path, uint32_t uiChoice,
                                         int acceptProviderUnknown, LONG answer = 0, const char* roots = nullptr) {
    g_probe = TrustProbe{}, g_probe.answer = answer;
    fs::create_directories(KTUTILS_VERIFY_SCRATCH);
    std::string folder = KTUTILS_VERIFY_SCRATCH "/installed-XXXXXX", copy = path == nullptr ? "" : path;
    const fs::path dir = mkdtemp(folder.data()), library = dir / "libktutils-verify.so";
    fs::copy_file(KTUTILS_VERIFY_UNDER_TEST, library);
    if (*provider != 0) fs::copy_file(provider, dir / "libwintrust.so");
    void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto verify = reinterpret_cast<int (*)(char*, uint32_t, int)>(
        dlsym(module, "_Z21VerifyServerComponentPcji"));  // VerifyServerComponent(char*, unsigned int, int)
    const auto verifyFile = reinterpret_cast<ktutils::TrustVerdict (*)(const char*, const ktutils::VerifyOptions&)>(
        dlsym(module, "_ZN7ktutils10VerifyFileEPKcRKNS_13VerifyOptionsE"));  // ktutils::VerifyFile
    const ktutils::VerifyOptions options{roots == nullptr ? "" : roots, uiChoice, acceptProviderUnknown != 0};
    const ktutils::TrustVerdict verdict = file ? verifyFile(path == nullptr ? nullptr : copy.c_str(), options) : ktutils::TrustVerdict{};
    const int result = file ? verdict.trusted : verify(path == nullptr ? nullptr : copy.data(), uiChoice, acceptProviderUnknown);
    // Released by the library before it returned: RTLD_NOLOAD finds nothing.
    EXPECT_EQ(dlopen((dir / "libwintrust.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    dlclose(module);
    fs::remove_all(dir);
    return {result, verdict.status};
}

TEST(VerifyServerComponent, AcceptsSuccessAlwaysAndProviderUnknownOnlyWhenAskedTo) {
    // 259 characters and the terminator fill the 260 places; the emoji takes two.
    const std::string fits(259, 'a'), emoji = "\xF0\x9F\x98\x80", tooLong = fits + "a";
    const std::string pairFits = fits.substr(2) + emoji, pairTooLong = fits.substr(1) + emoji;
    // `provider`: "" for none; `own`: not asked, VerifyFile's own status instead; `roots`: for VerifyFile only.
    const struct { const char *provider, *path; LONG answer; int acceptProviderUnknown, result; uint32_t own = 0;
                   bool failAllocation = false; const char* roots = nullptr; } cases[] = {
        {"", "c.dll", 0, 1, 0, 0x8007007E}, {KTUTILS_TEST_PROVIDER_WITHOUT_ENTRY, "c.dll", 0, 1, 0, 0x8007007F},
        {kProvider, "c.dll", 0, 0, 1}, {kProvider, "c.dll", 0, 1, 1}, {kProvider, "c.dll", kProviderUnknown, 0, 0},
        {kProvider, "c.dll", kProviderUnknown, 1, 1}, {kProvider, "c.dll", kProviderUnknown, -1, 1},
        {kProvider, "c.dll", kProviderUnknown + 1, 1, 0}, {kProvider, "c.dll", kProviderUnknown - 1, 1, 0},
        {kProvider, "c.dll", static_cast<LONG>(0x800B0100), 1, 0}, {kProvider, "c.dll", 1, 1, 0},
        {kProvider, fits.c_str(), 0, 0, 1}, {kProvider, tooLong.c_str(), 0, 1, 0, 0x800700CE},
        {kProvider, pairFits.c_str(), 0, 0, 1}, {kProvider, pairTooLong.c_str(), 0, 1, 0, 0x800700CE},
        {kProvider, nullptr, 0, 1, 0, 0x80070057}, {kProvider, "c.dll", 0, 1, 0, 0x8007000E, true},
        {kProvider, "c.dll", 0, 1, 0, 0x80004001, false, "roots.pem"},  // a provider that cannot take roots
    };
    for (const auto& c : cases) {
        for (const bool file : {false, true}) {
            if (c.roots != nullptr && !file) continue;
            SCOPED_TRACE(::testing::Message() << "row " << &c - cases << (file ? ", VerifyFile" : ""));
            g_failWidePath = c.failAllocation;
            const auto [result, status] =
                InstalledVerify(file, c.provider, c.path, WTD_UI_NONE, c.acceptProviderUnknown, c.answer, c.roots);
            g_failWidePath = false;
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(status, !file ? 0 : c.own != 0 ? c.own : static_cast<uint32_t>(c.answer));
            const int loaded = *c.provider != 0, asked = c.own == 0;
            EXPECT_EQ(std::tie(g_probe.loads, g_probe.unloads, g_probe.calls), std::make_tuple(loaded, loaded, asked));
        }
    }
}

TEST(VerifyServerComponent, AsksForTheGenericVerifyActionWithThePublishedRecords) {
    for (const auto& [uiChoice, file] : std::vector<std::pair<uint32_t, bool>>{
             {1, false}, {2, false}, {3, false}, {4, false}, {0, false}, {0xFFFFFFFF, false}, {1, true}, {0, true}}) {
        SCOPED_TRACE(::testing::Message() << uiChoice << (file ? ", VerifyFile" : ""));
        ASSERT_EQ(InstalledVerify(file, kProvider, "servers/caf\xC3\xA9/\xF0\x9F\x98\x80.dll", uiChoice, 0).first, 1);
        const GUID generic = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
        EXPECT_TRUE(g_probe.windowIsNull && std::memcmp(&g_probe.action, &generic, sizeof generic) == 0);
        // The eleven-field form: 44 bytes with 4-byte pointers, 76 with 8-byte ones.
        const WINTRUST_DATA& d = g_probe.data;
        EXPECT_EQ(std::tie(d.cbStruct, d.pPolicyCallbackData, d.pSIPClientData, d.dwUIChoice, d.fdwRevocationChecks,
                           d.dwUnionChoice, d.dwStateAction, d.hWVTStateData, d.pwszURLReference, d.dwProvFlags),
                  std::make_tuple(sizeof(void*) == 8 ? 76u : 44u, nullptr, nullptr, uiChoice, 0u, 1u, 0u, nullptr, nullptr, 0u));
        const WINTRUST_FILE_INFO& f = g_probe.file;
        EXPECT_EQ(std::tie(f.cbStruct, f.hFile, f.pgKnownSubject),
                  std::make_tuple(sizeof(void*) == 8 ? 32u : 16u, nullptr, nullptr));
        EXPECT_EQ(g_probe.path, u"servers/caf\u00E9/\U0001F600.dll");
    }
}

}  // namespace
