// The Linux trust provider against images signed at test time (see
// make_signature_fixtures.sh), directly and through VerifyServerComponent.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/host/wintrust/pe_image.h"
#include "ktutils/library/verify_server_component.h"

namespace fs = std::filesystem;

namespace {

using ktutils::detail::VerifyAuthenticodeImage;
using Bytes = std::vector<std::uint8_t>;

constexpr LONG kFileNotFound = static_cast<LONG>(0x80070002);

const fs::path kFixtures = KTUTILS_SIGNATURE_FIXTURES;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) |
                                      (static_cast<std::uint32_t>(b.at(at + 3)) << 24));
}

void PutU32At(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// The provider's WinVerifyTrust, loaded from where the build put it.
class Provider {
public:
    Provider() : m_module(dlopen(KTUTILS_TRUST_PROVIDER, RTLD_NOW | RTLD_LOCAL)) {
        if (m_module != nullptr) m_entry = reinterpret_cast<Entry>(dlsym(m_module, "WinVerifyTrust"));
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    ~Provider() {
        if (m_module != nullptr) dlclose(m_module);
    }
    bool Loaded() const { return m_entry != nullptr; }

    LONG Call(GUID action, WINTRUST_DATA& data) { return m_entry(nullptr, &action, &data); }

    // The generic verification of `path` with the records as the library fills them.
    LONG Verify(const fs::path& path) {
        const std::string narrow = path.string();
        std::u16string wide(narrow.begin(), narrow.end());  // the test paths are ASCII
        WINTRUST_FILE_INFO file{};
        file.cbStruct = sizeof file;
        file.pcwszFilePath = wide.c_str();
        WINTRUST_DATA data{};
        data.cbStruct = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
        data.dwUIChoice = WTD_UI_ALL;  // accepted; no UI is ever shown
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        return Call(WINTRUST_ACTION_GENERIC_VERIFY_V2, data);
    }

private:
    using Entry = LONG (*)(HWND, GUID*, LPVOID);
    void* m_module;
    Entry m_entry = nullptr;
};

class SignatureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Only the test CA is trusted: the system's roots stay out.
        setenv("KTUTILS_TRUST_ROOTS", (kFixtures / "trusted-roots.pem").c_str(), 1);
        unsetenv("KTUTILS_REFUSE_SHA1");
    }

    void SetUp() override {
        ASSERT_TRUE(fs::exists(kFixtures / "complete"))
            << "no fixtures in " << kFixtures << ": run the tests through ctest, which makes them first";
        ASSERT_TRUE(m_provider.Loaded()) << dlerror();
        std::string pattern = (fs::temp_directory_path() / "ktutils-signature-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_scratch = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_scratch, ignored);
    }

    static fs::path Fixture(const char* name) { return kFixtures / name; }

    fs::path Write(const char* name, const Bytes& bytes) {
        const fs::path path = m_scratch / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // VerifyServerComponent's answer, with and without accepting an unknown
    // provider: the real provider knows the action, so both must agree.
    static int Library(const fs::path& path) {
        std::string text = path.string();
        const int strict = VerifyServerComponent(text.data(), WTD_UI_NONE, 0);
        const int lenient = VerifyServerComponent(text.data(), WTD_UI_NONE, 1);
        EXPECT_EQ(strict, lenient);
        return strict;
    }

    void ExpectRefusedWith(const fs::path& path, LONG status) {
        EXPECT_EQ(static_cast<std::uint32_t>(m_provider.Verify(path)), static_cast<std::uint32_t>(status));
        EXPECT_EQ(Library(path), 0);
    }

    Provider m_provider;
    fs::path m_scratch;
};

// What Windows answers for each way a fixture is signed. Rows marked `stamped`
// need osslsigncode's built-in time-stamping authority.
struct SignedFixture {
    const char* name;
    LONG status;
    bool refuseSha1 = false;
    bool stamped = false;
};

const SignedFixture kSignedFixtures[] = {
    {"pe32-signed.exe", 0},
    {"pe32plus-signed.exe", 0},
    {"pe32-signed-sha384.exe", 0},
    {"pe32-signed-sha1.exe", 0},  // a matching SHA-1 digest is no bad digest
    {"dual-signed.exe", 0},       // SHA-1, with a SHA-256 signature nested
    {"pe32.exe", TRUST_E_NOSIGNATURE},
    {"pe32plus.exe", TRUST_E_NOSIGNATURE},
    {"untrusted-signed.exe", CERT_E_UNTRUSTEDROOT},
    {"dual-untrusted-nested.exe", CERT_E_UNTRUSTEDROOT},
    {"expired-signed.exe", CERT_E_EXPIRED},
    {"server-auth-signed.exe", CERT_E_WRONG_USAGE},
    {"under-server-ca-signed.exe", CERT_E_WRONG_USAGE},  // the CA allows server authentication only
    {"pkcs9-timestamped.exe", 0},
    {"pkcs9-expired-timestamped.exe", 0},
    {"pkcs9-expired-late-timestamped.exe", CERT_E_EXPIRED},
    {"pkcs9-untrusted-tsa.exe", TRUST_E_TIME_STAMP},
    {"pkcs9-grafted.exe", TRUST_E_TIME_STAMP},  // countersigns another signature
    {"pkcs9-broken.exe", TRUST_E_TIME_STAMP},
    {"pkcs9-not-a-tsa.exe", TRUST_E_TIME_STAMP},
    {"pe32-signed-sha1.exe", NTE_BAD_ALGID, true},
    {"dual-signed.exe", 0, true},  // judged on its SHA-256 signature
    {"pe32-signed.exe", 0, true},
    {"timestamped.exe", 0, false, true},
    {"expired-timestamped.exe", 0, false, true},  // stamped while the signer was valid
    {"expired-late-timestamped.exe", CERT_E_EXPIRED, false, true},  // stamped after it expired
    {"untrusted-tsa.exe", TRUST_E_TIME_STAMP, false, true},
    {"grafted-timestamp.exe", TRUST_E_TIME_STAMP, false, true},
};

TEST_F(SignatureTest, EachSignedFixtureGetsWindowsVerdictAndStatus) {
    for (const SignedFixture& fixture : kSignedFixtures) {
        SCOPED_TRACE(std::string(fixture.name) + (fixture.refuseSha1 ? " refusing SHA-1" : ""));
        if (fixture.stamped && !fs::exists(Fixture(fixture.name))) {
            std::printf("skipped %s: osslsigncode has no built-in time-stamping authority\n", fixture.name);
            continue;
        }
        if (fixture.refuseSha1) setenv("KTUTILS_REFUSE_SHA1", "1", 1);
        EXPECT_EQ(static_cast<std::uint32_t>(m_provider.Verify(Fixture(fixture.name))),
                  static_cast<std::uint32_t>(fixture.status));
        EXPECT_EQ(Library(Fixture(fixture.name)), fixture.status == 0 ? 1 : 0);
        unsetenv("KTUTILS_REFUSE_SHA1");
    }
}

TEST_F(SignatureTest, TrustsExactlyTheRootsNamedByTheRootsVariable) {
    // SSL_CERT_FILE names the test CA too: it must count only when the
    // variable is unset.
    setenv("SSL_CERT_FILE", (kFixtures / "trusted-roots.pem").c_str(), 1);
    setenv("SSL_CERT_DIR", (kFixtures / "no-certs").c_str(), 1);
    const struct {
        const char* roots;  // null: unset
        LONG status;
    } cases[] = {
        {"trusted-roots.pem", 0},
        {"roots-dir", 0},  // a directory of PEM files, with one that is not a certificate
        {"other-ca.pem", CERT_E_UNTRUSTEDROOT},
        {"no-certs", CERT_E_UNTRUSTEDROOT},  // an empty directory
        {"absent.pem", CERT_E_UNTRUSTEDROOT},
        {nullptr, 0},  // OpenSSL's defaults, here SSL_CERT_FILE
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.roots == nullptr ? "unset" : c.roots);
        if (c.roots != nullptr)
            setenv("KTUTILS_TRUST_ROOTS", (kFixtures / c.roots).c_str(), 1);
        else
            unsetenv("KTUTILS_TRUST_ROOTS");
        EXPECT_EQ(static_cast<std::uint32_t>(m_provider.Verify(Fixture("pe32-signed.exe"))),
                  static_cast<std::uint32_t>(c.status));
    }
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
    SetUpTestSuite();
}

// Registered on its own with the "network" label (tests/CMakeLists.txt).
class DebianSignedFiles : public SignatureTest {};

TEST_F(DebianSignedFiles, GetWindowsVerdictsAndStatuses) {
    // Downloads a few MB with apt-get; see fetch_debian_signed_files.sh.
    const fs::path files = m_scratch / "debian";
    const std::string fetch = std::string(KTUTILS_FETCH_DEBIAN_FILES) + " '" + files.string() + "'";
    ASSERT_EQ(std::system(fetch.c_str()), 0) << fetch;
    if (fs::exists(files / "skip")) {
        const Bytes reason = ReadAll(files / "skip");
        GTEST_SKIP() << std::string(reason.begin(), reason.end());
    }
    setenv("KTUTILS_TRUST_ROOTS", (files / "debian-ca.pem").c_str(), 1);

    const Bytes grub = ReadAll(files / "grubx64.efi.signed");
    ktutils::detail::PeLayout layout;
    ASSERT_EQ(ktutils::detail::ParsePeLayout(grub.data(), grub.size(), layout), ktutils::detail::PeLayoutStatus::kOk);
    const auto edited = [&grub](auto edit) {
        Bytes image = grub;
        edit(image);
        return image;
    };
    const ktutils::detail::ByteRange table = layout.certificateTable;
    const struct {
        const char* name;
        Bytes image;
        LONG status;
    } cases[] = {
        {"grubx64.efi.signed", grub, 0},
        {"fbx64.efi.signed", ReadAll(files / "fbx64.efi.signed"), 0},
        {"mmx64.efi.signed", ReadAll(files / "mmx64.efi.signed"), 0},
        // Microsoft's signature, two certificate entries: the first is judged,
        // and its chain does not reach the one root trusted here.
        {"shimx64.efi.signed", ReadAll(files / "shimx64.efi.signed"), CERT_E_CHAINING},
        {"code-byte-flipped.efi", edited([&](Bytes& b) { b.at(layout.hashedRanges.at(3).offset + 0x100) ^= 1; }),
         TRUST_E_BAD_DIGEST},
        {"checksum-flipped.efi", edited([&](Bytes& b) { b.at(layout.checksumOffset) ^= 0xFF; }), 0},
        {"byte-appended.efi", edited([](Bytes& b) { b.push_back(0); }), TRUST_E_NOSIGNATURE},
        {"second-entry.efi",
         edited([&](Bytes& b) {
             b.insert(b.end(), grub.begin() + table.offset, grub.begin() + table.offset + table.size);
             PutU32At(b, layout.certificateEntryOffset + 4, static_cast<std::uint32_t>(2 * table.size));
         }),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = Write(c.name, c.image);
        EXPECT_EQ(static_cast<std::uint32_t>(m_provider.Verify(path)), static_cast<std::uint32_t>(c.status));
        EXPECT_EQ(Library(path), c.status == 0 ? 1 : 0);
    }
    SetUpTestSuite();
}

TEST_F(SignatureTest, RefusesAnImageChangedAfterSigning) {
    Bytes image = ReadAll(Fixture("pe32-signed.exe"));
    image.at(0x200) ^= 0x01;  // the first instruction of .text
    ExpectRefusedWith(Write("patched.exe", image), TRUST_E_BAD_DIGEST);
    image = ReadAll(Fixture("pe32plus-signed.exe"));
    image.at(0x5FF) ^= 0x80;  // the last byte of .data
    ExpectRefusedWith(Write("patched-plus.exe", image), TRUST_E_BAD_DIGEST);
}

TEST_F(SignatureTest, EveryImageByteButTheChecksumIsCoveredBySignature) {
    const Bytes signedImage = ReadAll(Fixture("pe32-signed.exe"));
    ktutils::detail::PeLayout layout;
    ASSERT_EQ(ktutils::detail::ParsePeLayout(signedImage.data(), signedImage.size(), layout),
              ktutils::detail::PeLayoutStatus::kOk);
    for (std::size_t at = 0; at < layout.certificateTable.offset; ++at) {
        Bytes image = signedImage;
        image[at] ^= 0x01;
        const LONG status = VerifyAuthenticodeImage(image.data(), image.size());
        const bool inChecksum = at >= layout.checksumOffset && at < layout.checksumOffset + 4;
        if (inChecksum)
            ASSERT_EQ(status, 0) << "checksum byte " << at << " is not excluded";
        else
            ASSERT_NE(status, 0) << "byte " << at << " is not covered";
    }
}

TEST_F(SignatureTest, RefusesAChangeToTheSignedContentOutsideTheImageHash) {
    // The SpcPeImageData after its type (1.3.6.1.4.1.311.2.1.15) is signed
    // through the messageDigest attribute but not read by the provider.
    Bytes image = ReadAll(Fixture("pe32-signed.exe"));
    const std::uint8_t peImageDataOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
    const auto found = std::search(image.begin(), image.end(), std::begin(peImageDataOid), std::end(peImageDataOid));
    ASSERT_NE(found, image.end());
    const auto value = found + sizeof peImageDataOid;
    // The last byte of its SEQUENCE: inside the file link, opaque to the parser.
    *(value + 1 + *(value + 1)) ^= 0x01;
    ExpectRefusedWith(Write("content.exe", image), TRUST_E_BAD_DIGEST);
}

TEST_F(SignatureTest, JudgesACutOrExtendedCertificateTableAsWindowsDoes) {
    const Bytes image = ReadAll(Fixture("pe32-signed.exe"));
    const std::size_t entry = 0x80 + 24 + 96 + 32;  // the security directory entry
    const std::uint32_t table = U32At(image, entry), tableSize = U32At(image, entry + 4);
    // Cut by 8 with the directory and dwLength made to agree: the DER
    // signature itself is then short.
    Bytes consistent(image.begin(), image.end() - 8);
    PutU32At(consistent, entry + 4, tableSize - 8);
    PutU32At(consistent, table, U32At(image, table) - 8);
    const auto extended = [&](const Bytes& tail, bool grown) {
        Bytes b = image;
        b.insert(b.end(), tail.begin(), tail.end());
        if (grown) PutU32At(b, entry + 4, tableSize + static_cast<std::uint32_t>(tail.size()));
        return b;
    };
    const struct {
        const char* name;
        Bytes image;
        LONG status;
    } cases[] = {
        {"cut-1.exe", Bytes(image.begin(), image.end() - 1), TRUST_E_NOSIGNATURE},
        {"cut-8.exe", Bytes(image.begin(), image.end() - 8), TRUST_E_NOSIGNATURE},
        {"cut-consistent.exe", consistent, TRUST_E_NOSIGNATURE},
        {"appended.exe", extended({0}, false), TRUST_E_NOSIGNATURE},
        {"grown-by-zeros.exe", extended(Bytes(8, 0), true), TRUST_E_NOSIGNATURE},  // an entry of length 0
        {"second-entry.exe", extended(Bytes(image.begin() + table, image.end()), true), 0},  // the first is judged
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = Write(c.name, c.image);
        EXPECT_EQ(static_cast<std::uint32_t>(m_provider.Verify(path)), static_cast<std::uint32_t>(c.status));
        EXPECT_EQ(Library(path), c.status == 0 ? 1 : 0);
    }
}

TEST_F(SignatureTest, RefusesWhatIsNotAPeImage) {
    ExpectRefusedWith(Fixture("trusted-roots.pem"), TRUST_E_SUBJECT_FORM_UNKNOWN);
    ExpectRefusedWith(Write("empty.exe", {}), TRUST_E_SUBJECT_FORM_UNKNOWN);
}

TEST_F(SignatureTest, RefusesMissingAndUnreadableFilesAsNotFound) {
    ExpectRefusedWith(m_scratch / "missing.exe", kFileNotFound);
    ExpectRefusedWith(m_scratch, kFileNotFound);  // a directory
}

TEST_F(SignatureTest, TheProviderKnowsOnlyTheGenericVerifyActionOnFiles) {
    const std::u16string path = u"/nonexistent";
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    EXPECT_EQ(m_provider.Call(WINTRUST_ACTION_GENERIC_VERIFY_V2, data), kFileNotFound);

    GUID other = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    other.Data4[7] ^= 1;
    EXPECT_EQ(m_provider.Call(other, data), TRUST_E_PROVIDER_UNKNOWN);

    WINTRUST_DATA tooShort = data;
    tooShort.cbStruct = offsetof(WINTRUST_DATA, dwProvFlags);
    EXPECT_EQ(m_provider.Call(WINTRUST_ACTION_GENERIC_VERIFY_V2, tooShort), E_INVALIDARG);
    WINTRUST_DATA catalog = data;
    catalog.dwUnionChoice = WTD_CHOICE_CATALOG;
    EXPECT_EQ(m_provider.Call(WINTRUST_ACTION_GENERIC_VERIFY_V2, catalog), E_INVALIDARG);
    WINTRUST_DATA close = data;
    close.dwStateAction = WTD_STATEACTION_CLOSE;
    EXPECT_EQ(m_provider.Call(WINTRUST_ACTION_GENERIC_VERIFY_V2, close), 0);  // no state is kept to close
}

TEST_F(SignatureTest, NeverAcceptsATruncatedSignedImage) {
    const Bytes image = ReadAll(Fixture("pe32plus-signed.exe"));
    for (std::size_t size = 0; size < image.size(); ++size)
        ASSERT_NE(VerifyAuthenticodeImage(image.data(), size), 0) << size;
}

TEST_F(SignatureTest, DamagedSignaturesGiveAStatusNeverACrash) {
    // Random damage inside the certificate table reaches the PKCS#7, ASN.1
    // and chain code; only statuses that this provider returns may come back.
    const std::set<LONG> known = {0, TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED,
                                  CERT_E_WRONG_USAGE, CERT_E_CHAINING, TRUST_E_CERT_SIGNATURE, TRUST_E_FAIL,
                                  TRUST_E_TIME_STAMP, NTE_BAD_ALGID};
    const Bytes original = ReadAll(Fixture("pe32-signed.exe"));
    const std::size_t table = U32At(original, 0x80 + 24 + 96 + 32);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes image = original;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < edits; ++i)
            image[table + random() % (image.size() - table)] = static_cast<std::uint8_t>(random());
        const LONG status = VerifyAuthenticodeImage(image.data(), image.size());
        ASSERT_EQ(known.count(status), 1u) << std::hex << status;
    }
}

}  // namespace
