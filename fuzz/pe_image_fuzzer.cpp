// Mode: raw bytes as a whole component file, into the Linux trust provider's
// checks. The PE layout reader must keep every range it reports inside the
// file, the sections in file order, all clear of the certificate table; the certificate-table
// reader must report signed data inside that table; and the whole Authenticode
// verification must answer one of its known statuses without a fault. Seeds
// are the signed and unsigned PE32 and PE32+ images of the signature tests.
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/host/wintrust/pe_image.h"
#include "ktutils/host/wintrust/win_certificate.h"

using namespace ktutils::detail;

namespace {

bool Inside(const ByteRange& r, std::size_t size) {
    return r.offset <= size && r.size <= size - r.offset;
}

bool KnownStatus(LONG status) {
    for (LONG known : {LONG{0}, TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT,
                       CERT_E_EXPIRED, CERT_E_WRONG_USAGE, CERT_E_CHAINING, TRUST_E_CERT_SIGNATURE,
                       TRUST_E_SUBJECT_FORM_UNKNOWN, TRUST_E_FAIL, TRUST_E_TIME_STAMP, NTE_BAD_ALGID, E_INVALIDARG,
                       E_OUTOFMEMORY}) {
        if (status == known) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    PeLayout layout;
    const PeLayoutStatus status = ParsePeLayout(data, size, layout);
    if (status == PeLayoutStatus::kOk) {
        KTUTILS_FUZZ_CHECK(layout.checksumOffset <= size && 4 <= size - layout.checksumOffset);
        KTUTILS_FUZZ_CHECK(Inside(layout.certificateTable, size));
        // The headers come first, then the sections in file order. A section
        // may start inside the headers, and two section headers may name the
        // same raw data, which is then hashed twice, as Windows does: only
        // the order among the sections is fixed.
        uint64_t previousSection = 0;
        for (std::size_t i = 0; i < layout.hashedRanges.size(); ++i) {
            const ByteRange& r = layout.hashedRanges[i];
            KTUTILS_FUZZ_CHECK(Inside(r, size));
            if (i >= 3) {
                KTUTILS_FUZZ_CHECK(r.offset >= previousSection);
                previousSection = r.offset;
            }
            if (layout.certificateTable.size != 0) {
                KTUTILS_FUZZ_CHECK(r.offset + r.size <= layout.certificateTable.offset);
            }
        }
        if (layout.certificateTable.size != 0) {
            if (const auto signedData = FindSignedData(data, size, layout.certificateTable)) {
                KTUTILS_FUZZ_CHECK(signedData->offset >= layout.certificateTable.offset);
                KTUTILS_FUZZ_CHECK(signedData->offset + signedData->size <=
                                   layout.certificateTable.offset + layout.certificateTable.size);
            }
        }
    }
    KTUTILS_FUZZ_CHECK(KnownStatus(VerifyAuthenticodeImage(data, size)));
    return 0;
}
