// Mode: raw bytes as a component file, into the Linux trust provider: PE ranges inside the file, the
// sections in file order and clear of the certificate table, signed data only inside that table, and
// one of the known statuses from the whole Authenticode check. Seeds: the signature tests' images.
#include "fuzz/fuzz_check.h"
#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/host/wintrust/pe_image.h"
#include "ktutils/host/wintrust/win_certificate.h"

using namespace ktutils::detail;

static bool Inside(const ByteRange& r, std::size_t size) { return r.offset <= size && r.size <= size - r.offset; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    PeLayout layout;
    if (ParsePeLayout(data, size, layout) == PeLayoutStatus::kOk) {
        const ByteRange& table = layout.certificateTable;
        KTUTILS_FUZZ_CHECK(layout.checksumOffset <= size && 4 <= size - layout.checksumOffset && Inside(table, size));
        // Three header ranges, then the sections: a section may start inside the headers, and two may
        // name the same raw data (hashed twice, as Windows does); only their order is fixed.
        uint64_t previousSection = 0;
        for (std::size_t i = 0; i < layout.hashedRanges.size(); ++i) {
            const ByteRange& r = layout.hashedRanges[i];
            KTUTILS_FUZZ_CHECK(Inside(r, size) && (table.size == 0 || r.offset + r.size <= table.offset));
            KTUTILS_FUZZ_CHECK(i < 3 || r.offset >= previousSection);
            if (i >= 3) previousSection = r.offset;
        }
        const auto signedData = table.size != 0 ? FindSignedData(data, size, table) : std::nullopt;
        KTUTILS_FUZZ_CHECK(!signedData || (signedData->offset >= table.offset &&
                                           signedData->offset + signedData->size <= table.offset + table.size));
    }
    const LONG status = VerifyAuthenticodeImage(data, size);
    int known = 0;
    for (LONG each : {LONG{0}, TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED,
                      CERT_E_WRONG_USAGE, CERT_E_CHAINING, TRUST_E_CERT_SIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN,
                      TRUST_E_FAIL, TRUST_E_TIME_STAMP, NTE_BAD_ALGID, E_INVALIDARG, E_OUTOFMEMORY}) known += status == each;
    KTUTILS_FUZZ_CHECK(known == 1);
    return 0;
}
