// The Linux trust provider against images signed at test time (make_signature_fixtures.sh): its status, and
// VerifyServerComponent's verdict through it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <tuple>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/library/verify_file.h"
#include "ktutils/library/verify_server_component.h"
#include "tests/support/fixtures/pe_image_writer.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using ktutils::test::PutU32;
constexpr LONG kFileNotFound = static_cast<LONG>(0x80070002);
const std::string kFixtures = KTUTILS_SIGNATURE_FIXTURES "/";
const GUID kGenericVerify = WINTRUST_ACTION_GENERIC_VERIFY_V2;

// The provider's answer for `path`, with the records as the library fills them unless `edit` changes them.
LONG ProviderStatus(const std::string& path, const GUID* action = &kGenericVerify,
                    void (*edit)(WINTRUST_DATA&) = [](WINTRUST_DATA&) {}) {
    static void* const module = dlopen(KTUTILS_TRUST_PROVIDER, RTLD_NOW | RTLD_LOCAL);
    const auto entry = reinterpret_cast<LONG (*)(HWND, GUID*, LPVOID)>(dlsym(module, "WinVerifyTrust"));
    const std::u16string wide(path.begin(), path.end());  // the test paths are ASCII
    WINTRUST_FILE_INFO file{sizeof file, wide.c_str(), nullptr, nullptr};
    WINTRUST_DATA data{};
    data.cbStruct = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    edit(data);
    GUID copy = action == nullptr ? GUID{} : *action;
    return entry(nullptr, action == nullptr ? nullptr : &copy, &data);
}

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kFixtures + "complete")) << "no fixtures in " << kFixtures << ": run through ctest";
        setenv("KTUTILS_TRUST_ROOTS", (kFixtures + "trusted-roots.pem").c_str(), 1);  // not the system's roots
    }
    // The library's verdicts, through the provider: VerifyFile passes its status on.
    static void Expect(std::string path, LONG status) {
        EXPECT_EQ(VerifyServerComponent(path.data(), WTD_UI_NONE, 1), status == 0 ? 1 : 0);
        const ktutils::TrustVerdict verdict = ktutils::VerifyFile(path.c_str());
        EXPECT_EQ(std::make_tuple(verdict.trusted, verdict.status), std::make_tuple(status == 0, static_cast<std::uint32_t>(status)));
    }
    TempDir m_scratch;
};

TEST_F(SignatureTest, EachSignedFixtureGetsWindowsVerdictAndStatus) {
    // The writer's PE32 layout: CheckSum, the security entry, the table after the sections.
    const std::size_t checksum = ktutils::test::kOptionalHeaderOffset + 64, entry = checksum + 64, table = 0x600;
    const Bytes signedImage = ReadBytes(kFixtures + "pe32-signed.exe");
    const auto size = static_cast<std::uint32_t>(signedImage.size() - table);
    const auto flip = [](std::size_t at) { return [at](Bytes& b) { b.at(at) ^= 1; }; };  // edits of the bytes
    const std::uint32_t len = signedImage.at(table) + 256 * signedImage.at(table + 1),  // the entry's dwLength
                        der = 12 + 256 * signedImage.at(table + 10) + signedImage.at(table + 11);  // padding's start
    const auto extend = [&](Bytes tail, std::uint32_t in = 0) {  // the first `in` bytes into the first entry
        const auto grown = size + static_cast<std::uint32_t>(tail.size());
        return [=](Bytes& b) {
            b.insert(b.end(), tail.begin(), tail.end()), PutU32(b, entry + 4, grown), PutU32(b, table, len + in);
        };
    };
    const auto after = [&](Bytes p) {  // the offset just past the first `p`
        return std::search(signedImage.begin(), signedImage.end(), p.begin(), p.end()) - signedImage.begin() + p.size();
    };
    // The SpcPeImageData after its type is signed through the messageDigest only; the contentType value's last byte.
    const std::size_t value = after({6, 10, 43, 6, 1, 4, 1, 130, 55, 2, 1, 15}), type = after({9, 3, 0x31, 12}) + 11;
    const char* const s = "pe32-signed.exe";
    const LONG none = TRUST_E_NOSIGNATURE, bad = TRUST_E_BAD_DIGEST, stamp = TRUST_E_TIME_STAMP;
    const struct { const char* fixture; LONG status; std::function<void(Bytes&)> edit = {}; bool noSha1 = false; } cases[] = {
        {s, 0}, {"pe32plus-signed.exe", 0}, {"pe32-signed-sha384.exe", 0}, {"pe32-signed-sha512.exe", 0},
        {"pe32-signed-sha1.exe", 0}, {"dual-signed.exe", 0}, {"pe32.exe", none}, {"pe32plus.exe", none},
        {"untrusted-signed.exe", CERT_E_UNTRUSTEDROOT}, {"dual-untrusted-nested.exe", CERT_E_UNTRUSTEDROOT},
        {"expired-signed.exe", CERT_E_EXPIRED}, {"server-auth-signed.exe", CERT_E_WRONG_USAGE},
        {"no-eku-signed.exe", CERT_E_WRONG_USAGE}, {"no-ds-signed.exe", CERT_E_WRONG_USAGE},
        {"under-server-ca-signed.exe", CERT_E_WRONG_USAGE},  // a code-signing leaf under a server-auth-only CA
        {"under-any-ca-signed.exe", 0}, {"timestamped.exe", 0}, {"expired-timestamped.exe", 0},  // stamped in time
        {"expired-late-timestamped.exe", CERT_E_EXPIRED}, {"untrusted-tsa.exe", stamp},
        {"grafted-timestamp.exe", stamp}, {"pkcs9-timestamped.exe", 0}, {"pkcs9-expired-timestamped.exe", 0},
        {"pkcs9-expired-late-timestamped.exe", CERT_E_EXPIRED}, {"pkcs9-untrusted-tsa.exe", stamp},
        {"pkcs9-grafted.exe", stamp}, {"pkcs9-broken.exe", stamp}, {"pkcs9-not-a-tsa.exe", stamp},
        {"pe32-signed-sha1.exe", NTE_BAD_ALGID, nullptr, true}, {"dual-signed.exe", 0, nullptr, true},
        {s, 0, nullptr, true}, {s, 0, flip(checksum + 3)},  // the one field outside the hash
        {s, bad, flip(checksum - 5)}, {s, bad, flip(checksum + 4)}, {s, bad, flip(entry - 1)},  // hashed ranges' ends
        {s, bad, flip(entry + 8)}, {s, bad, flip(0x1FF)}, {s, bad, flip(0x200)}, {s, bad, flip(0x5FF)},
        {"pe32plus-signed.exe", bad, flip(0x5FF)}, {s, bad, flip(value + 1 + signedImage.at(value + 1))},
        {s, none, [=](Bytes& b) { len == der ? extend({1, 0, 0, 0, 0, 0, 0, 0}, 1)(b) : void(b.at(table + der) = 1); }},
        {s, none, [&](Bytes& b) { b.resize(b.size() - 8), PutU32(b, entry + 4, size - 8), PutU32(b, table, len - 8); }},
        {s, none, extend(Bytes(8, 0))}, {s, none, extend(Bytes(8, 0), 8)},  // an empty entry; 8 zeros after the DER
        {s, 0, extend(Bytes(signedImage.begin() + table, signedImage.end()))},  // the first entry is judged
        {"trusted-roots.pem", TRUST_E_SUBJECT_FORM_UNKNOWN}, {s, none, flip(type)},  // another contentType
        {s, none, [=](Bytes& b) { b.at(table + 8 + 14) = 10; }},  // an outer type other than signedData (…7.10)
        {"pe32.exe", TRUST_E_SUBJECT_FORM_UNKNOWN, [](Bytes& b) { b.clear(); }},
        {s, TRUST_E_SUBJECT_FORM_UNKNOWN, [](Bytes& b) { b.assign((2u << 20) + 1, 0); }},  // a huge page and a byte
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(::testing::Message() << "row " << i << ": " << c.fixture << (c.noSha1 ? ", no SHA-1" : ""));
        if (!fs::exists(kFixtures + c.fixture)) {  // RFC 3161 stamps need a recent osslsigncode
            std::printf("skipped row %zu: no %s\n", i, c.fixture);
            continue;
        }
        Bytes image = ReadBytes(kFixtures + c.fixture);
        if (c.edit) c.edit(image);
        WriteBytes(m_scratch.Path("image.exe"), image);
        c.noSha1 ? setenv("KTUTILS_REFUSE_SHA1", "1", 1) : unsetenv("KTUTILS_REFUSE_SHA1");
        Expect(m_scratch.Path("image.exe"), c.status);
    }
    Expect(m_scratch.Path("missing.exe"), kFileNotFound);
    Expect(m_scratch.Root().string(), kFileNotFound);  // a directory
    const int input = dup(0);  // a file read through descriptor 0, as where a service runs without standard input
    close(0), Expect(kFixtures + s, 0), dup2(input, 0), close(input);
}

TEST_F(SignatureTest, TrustsExactlyTheRootsNamedByTheRootsVariable) {
    // SSL_CERT_FILE names the test CA too: it counts only when the variable is unset.
    setenv("SSL_CERT_FILE", (kFixtures + "trusted-roots.pem").c_str(), 1), setenv("SSL_CERT_DIR", "/", 1);
    for (const auto& [roots, status] : std::vector<std::pair<const char*, LONG>>{
             {"trusted-roots.pem", 0}, {"roots-dir", 0},  // a directory, with a file that is no certificate
             {"other-ca.pem", CERT_E_UNTRUSTEDROOT}, {"no-certs", CERT_E_UNTRUSTEDROOT},
             {"absent.pem", CERT_E_UNTRUSTEDROOT}, {nullptr, 0}}) {  // unset: OpenSSL's defaults
        roots ? setenv("KTUTILS_TRUST_ROOTS", (kFixtures + roots).c_str(), 1) : unsetenv("KTUTILS_TRUST_ROOTS");
        EXPECT_EQ(ProviderStatus(kFixtures + "pe32-signed.exe"), status) << (roots ? roots : "unset");
        if (roots == nullptr) continue;
        const ktutils::VerifyOptions options{kFixtures + roots};  // for one call, over the variable, set to the other roots
        setenv("KTUTILS_TRUST_ROOTS", (kFixtures + (status == 0 ? "other-ca.pem" : "trusted-roots.pem")).c_str(), 1);
        EXPECT_EQ(ktutils::VerifyFile((kFixtures + "pe32-signed.exe").c_str(), options).status, std::uint32_t(status)) << roots;
    }
    unsetenv("SSL_CERT_FILE"), unsetenv("SSL_CERT_DIR");
}

TEST_F(SignatureTest, TheProviderAnswersOnlyTheGenericVerifyActionOnAFile) {
    GUID other = kGenericVerify;
    other.Data4[7] ^= 1;
    EXPECT_EQ(ProviderStatus("/absent", &other), TRUST_E_PROVIDER_UNKNOWN);
    EXPECT_EQ(ProviderStatus("/absent", nullptr), TRUST_E_PROVIDER_UNKNOWN);
    using D = WINTRUST_DATA;
    const std::pair<void (*)(D&), LONG> cases[] = {
        {[](D&) {}, kFileNotFound}, {[](D& d) { d.dwStateAction = WTD_STATEACTION_VERIFY; }, kFileNotFound},
        {[](D& d) { d.dwStateAction = WTD_STATEACTION_CLOSE; }, 0},  // no state is kept to close
        {[](D& d) { d.dwStateAction = 3; }, E_INVALIDARG}, {[](D& d) { d.cbStruct -= 1; }, E_INVALIDARG},
        {[](D& d) { d.dwUnionChoice = WTD_CHOICE_CATALOG; }, E_INVALIDARG}, {[](D& d) { d.pFile = {}; }, E_INVALIDARG},
        {[](D& d) { d.pFile->cbStruct = offsetof(WINTRUST_FILE_INFO, hFile) - 1; }, E_INVALIDARG},
        {[](D& d) { d.pFile->cbStruct = offsetof(WINTRUST_FILE_INFO, hFile); }, kFileNotFound},
    };
    for (const auto& [edit, status] : cases) EXPECT_EQ(ProviderStatus("/absent", &kGenericVerify, edit), status);
}

TEST(TrustStatus, EveryStatusOfTheProviderIsNamedAsItsConstant) {
#define KTUTILS_STATUS(name) {static_cast<std::uint32_t>(name), #name}
    const std::pair<std::uint32_t, const char*> rows[] = {
        KTUTILS_STATUS(ERROR_SUCCESS), KTUTILS_STATUS(TRUST_E_PROVIDER_UNKNOWN), KTUTILS_STATUS(TRUST_E_SUBJECT_FORM_UNKNOWN),
        KTUTILS_STATUS(TRUST_E_NOSIGNATURE), KTUTILS_STATUS(TRUST_E_BAD_DIGEST), KTUTILS_STATUS(NTE_BAD_ALGID),
        KTUTILS_STATUS(TRUST_E_TIME_STAMP), KTUTILS_STATUS(CERT_E_EXPIRED), KTUTILS_STATUS(CERT_E_UNTRUSTEDROOT),
        KTUTILS_STATUS(CERT_E_CHAINING), KTUTILS_STATUS(TRUST_E_CERT_SIGNATURE), KTUTILS_STATUS(CERT_E_WRONG_USAGE),
        KTUTILS_STATUS(TRUST_E_FAIL), KTUTILS_STATUS(E_INVALIDARG), KTUTILS_STATUS(E_OUTOFMEMORY),
        {static_cast<std::uint32_t>(kFileNotFound), "ERROR_FILE_NOT_FOUND"}, {1, "UNKNOWN_STATUS"}, {0x800B0000, "UNKNOWN_STATUS"}};
#undef KTUTILS_STATUS
    for (const auto& [status, name] : rows)  // and each with a reason
        EXPECT_EQ(ktutils::TrustStatusName(status) + std::string(*ktutils::TrustStatusReason(status) ? "" : ": no reason"), name);
}

// Downloads a few MB with apt-get (fetch_debian_signed_files.sh): a test of its own, labelled "network".
using DebianSignedFiles = SignatureTest;

TEST_F(DebianSignedFiles, GetWindowsVerdictsAndStatuses) {
    const std::string files = m_scratch.Path("debian") + "/";
    ASSERT_EQ(std::system((KTUTILS_FETCH_DEBIAN_FILES " '" + files + "'").c_str()), 0);
    if (const Bytes why = ReadBytes(files + "skip"); !why.empty()) GTEST_SKIP() << std::string(why.begin(), why.end());
    setenv("KTUTILS_TRUST_ROOTS", (files + "debian-ca.pem").c_str(), 1);
    for (const char* name : {"grubx64.efi.signed", "fbx64.efi.signed", "mmx64.efi.signed"}) Expect(files + name, 0);
    // Microsoft's signature, in the first of two entries: its root is not trusted here.
    Expect(files + "shimx64.efi.signed", CERT_E_CHAINING);
}

}  // namespace
