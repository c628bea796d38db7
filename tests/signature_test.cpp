// The Linux trust provider against images signed at test time
// (make_signature_fixtures.sh): its status, and VerifyServerComponent's
// verdict through it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <random>
#include <set>

#include "host/win32/wintrust.h"
#include "host/wintrust/authenticode.h"
#include "host/wintrust/pe_image.h"
#include "library/verify_server_component.h"
#include "tests/pe_image_writer.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using namespace ktutils::detail;
using Bytes = std::vector<std::uint8_t>;
constexpr LONG kFileNotFound = static_cast<LONG>(0x80070002);
const fs::path kFixtures = KTUTILS_SIGNATURE_FIXTURES;
const GUID kGenericVerify = WINTRUST_ACTION_GENERIC_VERIFY_V2;

using Entry = LONG (*)(HWND, GUID*, LPVOID);
Entry ProviderEntry() {
    static void* module = dlopen(KTUTILS_TRUST_PROVIDER, RTLD_NOW | RTLD_LOCAL);
    return module == nullptr ? nullptr : reinterpret_cast<Entry>(dlsym(module, "WinVerifyTrust"));
}

// The provider's answer for `path`, with the records as the library fills
// them unless `edit` changes them.
LONG ProviderStatus(const fs::path& path, const GUID* action = &kGenericVerify,
                    void (*edit)(WINTRUST_DATA&) = nullptr) {
    const std::string narrow = path.string();
    const std::u16string wide(narrow.begin(), narrow.end());  // the test paths are ASCII
    WINTRUST_FILE_INFO file{sizeof file, wide.c_str(), nullptr, nullptr};
    WINTRUST_DATA data{};
    data.cbStruct = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    if (edit != nullptr) edit(data);
    GUID copy = action == nullptr ? GUID{} : *action;
    return ProviderEntry()(nullptr, action == nullptr ? nullptr : &copy, &data);
}

class SignatureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Only the test CA is trusted: the system's roots stay out.
        setenv("KTUTILS_TRUST_ROOTS", (kFixtures / "trusted-roots.pem").c_str(), 1);
        unsetenv("KTUTILS_REFUSE_SHA1");
    }
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kFixtures / "complete")) << "no fixtures in " << kFixtures << ": run through ctest";
        ASSERT_NE(ProviderEntry(), nullptr) << dlerror();
    }
    void TearDown() override { SetUpTestSuite(); }

    // The provider's status and the library's verdict, which must follow it.
    static void Expect(const fs::path& path, LONG status) {
        EXPECT_EQ(static_cast<std::uint32_t>(ProviderStatus(path)), static_cast<std::uint32_t>(status));
        std::string text = path.string();
        EXPECT_EQ(VerifyServerComponent(text.data(), WTD_UI_NONE, 1), status == 0 ? 1 : 0);
    }
    static Bytes Fixture(const char* name) { return ReadBytes((kFixtures / name).string()); }

    TempDir m_scratch;
};

TEST_F(SignatureTest, EachSignedFixtureGetsWindowsVerdictAndStatus) {
    const struct {
        const char* name;
        LONG status;
        bool refuseSha1 = false;
    } cases[] = {
        {"pe32-signed.exe", 0}, {"pe32plus-signed.exe", 0}, {"pe32-signed-sha384.exe", 0},
        {"pe32-signed-sha512.exe", 0}, {"pe32-signed-sha1.exe", 0}, {"dual-signed.exe", 0},  // SHA-1, SHA-256 nested
        {"pe32.exe", TRUST_E_NOSIGNATURE}, {"pe32plus.exe", TRUST_E_NOSIGNATURE},
        {"untrusted-signed.exe", CERT_E_UNTRUSTEDROOT}, {"dual-untrusted-nested.exe", CERT_E_UNTRUSTEDROOT},
        {"expired-signed.exe", CERT_E_EXPIRED}, {"server-auth-signed.exe", CERT_E_WRONG_USAGE},
        {"no-eku-signed.exe", CERT_E_WRONG_USAGE}, {"no-ds-signed.exe", CERT_E_WRONG_USAGE},
        {"under-server-ca-signed.exe", CERT_E_WRONG_USAGE},  // a code-signing leaf under a server-auth-only CA
        {"under-any-ca-signed.exe", 0},                      // under a CA allowing any usage
        {"timestamped.exe", 0}, {"expired-timestamped.exe", 0},  // stamped while the signer was valid
        {"expired-late-timestamped.exe", CERT_E_EXPIRED}, {"untrusted-tsa.exe", TRUST_E_TIME_STAMP},
        {"grafted-timestamp.exe", TRUST_E_TIME_STAMP},  // the stamp of another signature
        {"pkcs9-timestamped.exe", 0}, {"pkcs9-expired-timestamped.exe", 0},
        {"pkcs9-expired-late-timestamped.exe", CERT_E_EXPIRED}, {"pkcs9-untrusted-tsa.exe", TRUST_E_TIME_STAMP},
        {"pkcs9-grafted.exe", TRUST_E_TIME_STAMP}, {"pkcs9-broken.exe", TRUST_E_TIME_STAMP},
        {"pkcs9-not-a-tsa.exe", TRUST_E_TIME_STAMP},  // countersigned by a code-signing certificate
        {"pe32-signed-sha1.exe", NTE_BAD_ALGID, true}, {"dual-signed.exe", 0, true}, {"pe32-signed.exe", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.refuseSha1 ? " refusing SHA-1" : ""));
        if (c.refuseSha1) setenv("KTUTILS_REFUSE_SHA1", "1", 1);
        Expect(kFixtures / c.name, c.status);
        unsetenv("KTUTILS_REFUSE_SHA1");
    }
}

TEST_F(SignatureTest, ChangedDamagedOrMissingImagesGetWindowsStatus) {
    const Bytes image = Fixture("pe32-signed.exe");
    PeLayout layout;
    ASSERT_EQ(ParsePeLayout(image.data(), image.size(), layout), PeLayoutStatus::kOk);
    const auto table = static_cast<std::uint32_t>(layout.certificateTable.offset);
    const auto entry = layout.certificateEntryOffset, tableSize = layout.certificateTable.size;
    const auto edited = [&](const std::function<void(Bytes&)>& edit) {
        Bytes b = image;
        edit(b);
        return b;
    };
    const auto flipped = [&](std::size_t at) { return edited([at](Bytes& b) { b.at(at) ^= 1; }); };
    const auto extended = [&](const Bytes& tail) {
        return edited([&](Bytes& b) {
            b.insert(b.end(), tail.begin(), tail.end());
            ktutils::test::PutU32(b, entry + 4, static_cast<std::uint32_t>(tableSize + tail.size()));
        });
    };
    // The SpcPeImageData after its type is signed through the messageDigest
    // only; its last byte is opaque to the provider.
    const std::uint8_t peImageData[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
    const auto value = std::search(image.begin(), image.end(), std::begin(peImageData), std::end(peImageData)) +
                       sizeof peImageData - image.begin();
    const struct {
        const char* name;
        Bytes image;
        LONG status;
    } cases[] = {
        {"checksum.exe", flipped(layout.checksumOffset + 3), 0},  // the one field outside the hash
        {"dos-stub.exe", flipped(0x40), TRUST_E_BAD_DIGEST},
        {"after-checksum.exe", flipped(layout.checksumOffset + 4), TRUST_E_BAD_DIGEST},
        {"after-entry.exe", flipped(entry + 8), TRUST_E_BAD_DIGEST},
        {"text.exe", flipped(0x200), TRUST_E_BAD_DIGEST},
        {"data-end.exe", flipped(0x5FF), TRUST_E_BAD_DIGEST},
        {"indirect-data.exe", flipped(value + 1 + image.at(value + 1)), TRUST_E_BAD_DIGEST},
        {"padding.exe", edited([](Bytes& b) { b.back() = 1; }), TRUST_E_NOSIGNATURE},
        {"cut-1.exe", Bytes(image.begin(), image.end() - 1), TRUST_E_NOSIGNATURE},
        {"cut-consistently.exe", edited([&](Bytes& b) {  // table and dwLength agree; the DER is short
             b.resize(b.size() - 8);
             ktutils::test::PutU32(b, entry + 4, static_cast<std::uint32_t>(tableSize - 8));
             ktutils::test::PutU32(b, table, static_cast<std::uint32_t>(b.at(table) | b.at(table + 1) << 8) - 8);
         }),
         TRUST_E_NOSIGNATURE},
        {"appended.exe", edited([](Bytes& b) { b.push_back(0); }), TRUST_E_NOSIGNATURE},
        {"empty-entry.exe", extended(Bytes(8, 0)), TRUST_E_NOSIGNATURE},
        {"second-entry.exe", extended(Bytes(image.begin() + table, image.end())), 0},  // the first is judged
        {"not-pe.exe", Fixture("trusted-roots.pem"), TRUST_E_SUBJECT_FORM_UNKNOWN},
        {"empty.exe", {}, TRUST_E_SUBJECT_FORM_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(m_scratch.Path(c.name), c.image);
        Expect(m_scratch.Path(c.name), c.status);
    }
    Expect(m_scratch.Path("missing.exe"), kFileNotFound);
    Expect(m_scratch.Root(), kFileNotFound);  // a directory
}

TEST_F(SignatureTest, EveryImageByteButTheChecksumIsSigned) {
    for (const char* name : {"pe32-signed.exe", "pe32plus-signed.exe"}) {
        const Bytes image = Fixture(name);
        const std::size_t checksum = ktutils::test::kOptionalHeaderOffset + 64;
        for (std::size_t at = 0; at < ktutils::test::kImageSize; ++at) {
            Bytes changed = image;
            changed[at] ^= 0x01;
            const bool inChecksum = at >= checksum && at < checksum + 4;
            ASSERT_EQ(VerifyAuthenticodeImage(changed.data(), changed.size()) == 0, inChecksum) << name << at;
        }
    }
}

TEST_F(SignatureTest, CutOrDamagedSignaturesGiveAStatusNeverACrash) {
    const std::set<LONG> known = {0, TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED,
                                  CERT_E_WRONG_USAGE, CERT_E_CHAINING, TRUST_E_CERT_SIGNATURE, TRUST_E_FAIL,
                                  TRUST_E_TIME_STAMP, NTE_BAD_ALGID, TRUST_E_SUBJECT_FORM_UNKNOWN};
    const Bytes image = Fixture("dual-signed.exe");
    for (std::size_t size = 0; size < image.size(); ++size)
        ASSERT_EQ(known.count(VerifyAuthenticodeImage(image.data(), size)), 1u) << size;
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = image;
        for (int i = 0, edits = 1 + static_cast<int>(random() % 3); i < edits; ++i)
            damaged[ktutils::test::kImageSize + random() % (image.size() - ktutils::test::kImageSize)] ^=
                static_cast<std::uint8_t>(1 + random() % 255);
        const LONG status = VerifyAuthenticodeImage(damaged.data(), damaged.size());
        ASSERT_EQ(known.count(status), 1u) << std::hex << status;
    }
}

TEST_F(SignatureTest, TrustsExactlyTheRootsNamedByTheRootsVariable) {
    // SSL_CERT_FILE names the test CA too: it counts only when the variable is unset.
    setenv("SSL_CERT_FILE", (kFixtures / "trusted-roots.pem").c_str(), 1);
    setenv("SSL_CERT_DIR", (kFixtures / "no-certs").c_str(), 1);
    const struct {
        const char* roots;  // null: unset
        LONG status;
    } cases[] = {{"trusted-roots.pem", 0}, {"roots-dir", 0},  // a directory, with a file that is no certificate
                 {"other-ca.pem", CERT_E_UNTRUSTEDROOT}, {"no-certs", CERT_E_UNTRUSTEDROOT},
                 {"absent.pem", CERT_E_UNTRUSTEDROOT}, {nullptr, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.roots == nullptr ? "unset" : c.roots);
        if (c.roots != nullptr) setenv("KTUTILS_TRUST_ROOTS", (kFixtures / c.roots).c_str(), 1);
        if (c.roots == nullptr) unsetenv("KTUTILS_TRUST_ROOTS");
        EXPECT_EQ(ProviderStatus(kFixtures / "pe32-signed.exe"), c.status);
    }
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
}

TEST_F(SignatureTest, TheProviderAnswersOnlyTheGenericVerifyActionOnAFile) {
    GUID other = kGenericVerify;
    other.Data4[7] ^= 1;
    EXPECT_EQ(ProviderStatus("/nonexistent", &other), TRUST_E_PROVIDER_UNKNOWN);
    EXPECT_EQ(ProviderStatus("/nonexistent", nullptr), TRUST_E_PROVIDER_UNKNOWN);
    EXPECT_EQ(ProviderEntry()(nullptr, &other, nullptr), TRUST_E_PROVIDER_UNKNOWN);
    GUID generic = kGenericVerify;
    EXPECT_EQ(ProviderEntry()(nullptr, &generic, nullptr), E_INVALIDARG);
    const struct {
        void (*edit)(WINTRUST_DATA&);
        LONG status;
    } cases[] = {
        {[](WINTRUST_DATA&) {}, kFileNotFound},
        {[](WINTRUST_DATA& d) { d.dwStateAction = WTD_STATEACTION_VERIFY; }, kFileNotFound},
        {[](WINTRUST_DATA& d) { d.dwStateAction = WTD_STATEACTION_CLOSE; }, 0},  // no state is kept to close
        {[](WINTRUST_DATA& d) { d.dwStateAction = 3; }, E_INVALIDARG},
        {[](WINTRUST_DATA& d) { d.cbStruct -= 1; }, E_INVALIDARG},
        {[](WINTRUST_DATA& d) { d.dwUnionChoice = WTD_CHOICE_CATALOG; }, E_INVALIDARG},
        {[](WINTRUST_DATA& d) { d.pFile->cbStruct = offsetof(WINTRUST_FILE_INFO, hFile) - 1; }, E_INVALIDARG},
        {[](WINTRUST_DATA& d) { d.pFile->cbStruct = offsetof(WINTRUST_FILE_INFO, hFile); }, kFileNotFound},
        {[](WINTRUST_DATA& d) { d.pFile = nullptr; }, E_INVALIDARG},
    };
    for (const auto& c : cases) EXPECT_EQ(ProviderStatus("/nonexistent", &kGenericVerify, c.edit), c.status);
}

// Registered on its own with the "network" label (tests/CMakeLists.txt).
using DebianSignedFiles = SignatureTest;

TEST_F(DebianSignedFiles, GetWindowsVerdictsAndStatuses) {
    // Downloads a few MB with apt-get; see fetch_debian_signed_files.sh.
    const std::string files = m_scratch.Path("debian"), fetch = KTUTILS_FETCH_DEBIAN_FILES " '" + files + "'";
    ASSERT_EQ(std::system(fetch.c_str()), 0) << fetch;
    if (fs::exists(files + "/skip")) {
        const Bytes reason = ReadBytes(files + "/skip");
        GTEST_SKIP() << std::string(reason.begin(), reason.end());
    }
    setenv("KTUTILS_TRUST_ROOTS", (files + "/debian-ca.pem").c_str(), 1);
    const Bytes grub = ReadBytes(files + "/grubx64.efi.signed");
    PeLayout layout;
    ASSERT_EQ(ParsePeLayout(grub.data(), grub.size(), layout), PeLayoutStatus::kOk);
    Bytes code = grub, checksum = grub;
    code.at(layout.hashedRanges.at(3).offset + 0x100) ^= 1;
    checksum.at(layout.checksumOffset) ^= 0xFF;
    WriteBytes(files + "/code.efi", code);
    WriteBytes(files + "/checksum.efi", checksum);
    const struct {
        const char* name;
        LONG status;
    } cases[] = {{"grubx64.efi.signed", 0}, {"fbx64.efi.signed", 0}, {"mmx64.efi.signed", 0},
                 // Microsoft's signature, in the first of two entries: its root is not trusted here.
                 {"shimx64.efi.signed", CERT_E_CHAINING}, {"code.efi", TRUST_E_BAD_DIGEST}, {"checksum.efi", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Expect(files + "/" + c.name, c.status);
    }
}

}  // namespace
