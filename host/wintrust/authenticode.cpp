#include "host/wintrust/authenticode.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "host/wintrust/code_signing_chain.h"
#include "host/wintrust/image_digest.h"
#include "host/wintrust/indirect_data.h"
#include "host/wintrust/object_id.h"
#include "host/wintrust/openssl_ptr.h"
#include "host/wintrust/pe_image.h"
#include "host/wintrust/timestamp.h"
#include "host/wintrust/win_certificate.h"

namespace ktutils::detail {
namespace {

// SHA-1 and MD5 image hashes are refused: collisions in them can be made,
// and a signature over a colliding hash would vouch for another image.
const EVP_MD* AcceptedDigest(int nid) {
    switch (nid) {
        case NID_sha256: return EVP_sha256();
        case NID_sha384: return EVP_sha384();
        case NID_sha512: return EVP_sha512();
        default: return nullptr;
    }
}

// The SignedData's DER, then at most 7 zero bytes that pad it to 8.
Pkcs7Ptr ReadSignedData(const std::uint8_t* data, const ByteRange& range) {
    const unsigned char* p = data + range.offset;
    const unsigned char* const end = p + range.size;
    Pkcs7Ptr signedData(d2i_PKCS7(nullptr, &p, static_cast<long>(range.size)));
    if (signedData == nullptr || end - p >= 8 || !std::all_of(p, end, [](unsigned char b) { return b == 0; }))
        return nullptr;
    return signedData;
}

// The signer must declare the content it signs as SpcIndirectDataContent.
bool DeclaresIndirectData(PKCS7_SIGNER_INFO* signer) {
    const ASN1_TYPE* contentType = PKCS7_get_signed_attribute(signer, NID_pkcs9_contentType);
    return contentType != nullptr && contentType->type == V_ASN1_OBJECT &&
           ObjectIs(contentType->value.object, kSpcIndirectDataOid);
}

// The signed content as PKCS7_verify reads it. Behind a buffering filter
// rather than a bare memory BIO: given a memory BIO, OpenSSL 3.0's
// PKCS7_verify copies it into a second one that it leaks when the SignedData
// names a digest it cannot set up.
BioChainPtr ContentSource(const IndirectData& indirect) {
    if (indirect.signedContentSize > INT_MAX) return nullptr;
    BioPtr memory(BIO_new_mem_buf(indirect.signedContent, static_cast<int>(indirect.signedContentSize)));
    BioChainPtr buffered(BIO_new(BIO_f_buffer()));
    if (memory == nullptr || buffered == nullptr) return nullptr;
    BIO_push(buffered.get(), memory.release());
    return buffered;
}

}  // namespace

LONG VerifyAuthenticodeImage(const std::uint8_t* data, std::size_t size) {
    PeLayout layout;
    switch (ParsePeLayout(data, size, layout)) {
        case PeLayoutStatus::kOk: break;
        case PeLayoutStatus::kNotPe: return TRUST_E_SUBJECT_FORM_UNKNOWN;
        case PeLayoutStatus::kBadCertificatePlacement: return TRUST_E_NOSIGNATURE;
    }
    if (layout.certificateTable.size == 0) return TRUST_E_NOSIGNATURE;
    const std::optional<ByteRange> signedDataRange = FindSignedData(data, size, layout.certificateTable);
    if (!signedDataRange) return TRUST_E_NOSIGNATURE;
    Pkcs7Ptr signedData = ReadSignedData(data, *signedDataRange);
    if (signedData == nullptr) return TRUST_E_NOSIGNATURE;
    const std::optional<IndirectData> indirect = ReadIndirectData(*signedData);
    if (!indirect) return TRUST_E_NOSIGNATURE;
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(signedData.get());
    if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return TRUST_E_NOSIGNATURE;
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (!DeclaresIndirectData(signer)) return TRUST_E_NOSIGNATURE;

    // The image hash that was signed must be this image's.
    const EVP_MD* algorithm = AcceptedDigest(indirect->digestNid);
    if (algorithm == nullptr) return TRUST_E_BAD_DIGEST;
    const auto imageDigest = DigestRanges(data, size, layout.hashedRanges, algorithm);
    if (!imageDigest || imageDigest->size() != indirect->digest.size() ||
        CRYPTO_memcmp(imageDigest->data(), indirect->digest.data(), imageDigest->size()) != 0)
        return TRUST_E_BAD_DIGEST;

    // The signer's messageDigest over the signed content and its signature
    // over the attributes; the chain is judged below, with its own statuses.
    BioChainPtr content = ContentSource(*indirect);
    if (content == nullptr ||
        PKCS7_verify(signedData.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) != 1)
        return TRUST_E_BAD_DIGEST;

    STACK_OF(X509)* signerCerts = PKCS7_get0_signers(signedData.get(), nullptr, 0);
    X509* signerCert = sk_X509_num(signerCerts) == 1 ? sk_X509_value(signerCerts, 0) : nullptr;
    sk_X509_free(signerCerts);  // the certificates belong to the SignedData
    if (signerCert == nullptr) return TRUST_E_NOSIGNATURE;
    return VerifyCodeSigningChain(signerCert, signedData->d.sign->cert, VerifiedTimestamp(*signer));
}

}  // namespace ktutils::detail
