#include "ktutils/host/wintrust/authenticode.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "ktutils/host/wintrust/code_signing_chain.h"
#include "ktutils/host/wintrust/image_digest.h"
#include "ktutils/host/wintrust/indirect_data.h"
#include "ktutils/host/wintrust/object_id.h"
#include "ktutils/host/wintrust/openssl_ptr.h"
#include "ktutils/host/wintrust/pe_image.h"
#include "ktutils/host/wintrust/timestamp.h"
#include "ktutils/host/wintrust/win_certificate.h"

namespace ktutils::detail {
namespace {

// The image hash algorithms Windows accepts. MD5 is not among them: a
// collision in it can be made, so a signature over it could vouch for another
// image.
const EVP_MD* ImageDigestAlgorithm(int nid) {
    switch (nid) {
        case NID_sha1: return EVP_sha1();
        case NID_sha256: return EVP_sha256();
        case NID_sha384: return EVP_sha384();
        case NID_sha512: return EVP_sha512();
        default: return nullptr;
    }
}

// Internal only: a SHA-1 signature that the policy leaves unjudged.
constexpr LONG kNotJudged = 1;

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

// The signatures nested in the signer's unsigned attributes, each a whole
// SignedData; empty when there are none, nullopt when one cannot be read.
std::optional<std::vector<Pkcs7Ptr>> NestedSignatures(PKCS7_SIGNER_INFO& signer) {
    std::vector<Pkcs7Ptr> nested;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer.unauth_attr); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer.unauth_attr, i);
        if (!ObjectIs(X509_ATTRIBUTE_get0_object(attribute), kSpcNestedSignatureOid)) continue;
        for (int j = 0; j < X509_ATTRIBUTE_count(attribute); ++j) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, j);
            if (value == nullptr || value->type != V_ASN1_SEQUENCE || value->value.sequence == nullptr)
                return std::nullopt;
            const ASN1_STRING* der = value->value.sequence;
            const unsigned char* p = der->data;
            Pkcs7Ptr signedData(d2i_PKCS7(nullptr, &p, der->length));
            if (signedData == nullptr || p != der->data + der->length) return std::nullopt;
            nested.push_back(std::move(signedData));
        }
    }
    return nested;
}

// One signature over the image, judged in full: what it signs, its digest,
// its signature, its countersignature and its chain.
LONG VerifySignature(PKCS7& signedData, const std::uint8_t* data, std::size_t size, const PeLayout& layout,
                     const VerifyPolicy& policy) {
    const std::optional<IndirectData> indirect = ReadIndirectData(signedData);
    if (!indirect) return TRUST_E_NOSIGNATURE;
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(&signedData);
    if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return TRUST_E_NOSIGNATURE;
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (!DeclaresIndirectData(signer)) return TRUST_E_NOSIGNATURE;

    // The image hash that was signed must be this image's.
    const EVP_MD* algorithm = ImageDigestAlgorithm(indirect->digestNid);
    if (algorithm == nullptr) return NTE_BAD_ALGID;
    if (policy.refuseSha1 && indirect->digestNid == NID_sha1) return kNotJudged;
    const auto imageDigest = DigestRanges(data, size, layout.hashedRanges, algorithm);
    if (!imageDigest || imageDigest->size() != indirect->digest.size() ||
        CRYPTO_memcmp(imageDigest->data(), indirect->digest.data(), imageDigest->size()) != 0)
        return TRUST_E_BAD_DIGEST;

    // The signer's messageDigest over the signed content and its signature
    // over the attributes; the chain is judged below, with its own statuses.
    BioChainPtr content = ContentSource(*indirect);
    if (content == nullptr ||
        PKCS7_verify(&signedData, nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) != 1)
        return TRUST_E_BAD_DIGEST;

    STACK_OF(X509)* certificates = signedData.d.sign->cert;
    STACK_OF(X509)* signerCerts = PKCS7_get0_signers(&signedData, nullptr, 0);
    X509* signerCert = sk_X509_num(signerCerts) == 1 ? sk_X509_value(signerCerts, 0) : nullptr;
    sk_X509_free(signerCerts);  // the certificates belong to the SignedData
    if (signerCert == nullptr) return TRUST_E_NOSIGNATURE;
    const SigningTime signedAt = JudgeCountersignature(*signer, certificates, policy.trustRoots);
    if (signedAt.status == ERROR_SUCCESS)
        return VerifyCodeSigningChain(signerCert, certificates, signedAt.at, policy.trustRoots);
    // A chain that fails whatever the time (an untrusted root, say) is the
    // deeper fault, and says so first; otherwise the stamp is to blame.
    const LONG chainNow = VerifyCodeSigningChain(signerCert, certificates, std::nullopt, policy.trustRoots);
    return chainNow == ERROR_SUCCESS || chainNow == CERT_E_EXPIRED ? signedAt.status : chainNow;
}

}  // namespace

VerifyPolicy PolicyFromEnvironment() {
    const char* refuseSha1 = std::getenv("KTUTILS_REFUSE_SHA1");
    VerifyPolicy policy;
    policy.refuseSha1 = refuseSha1 != nullptr && std::strcmp(refuseSha1, "1") == 0;
    if (const char* roots = std::getenv("KTUTILS_TRUST_ROOTS")) policy.trustRoots = roots;
    return policy;
}

LONG VerifyAuthenticodeImage(const std::uint8_t* data, std::size_t size, const VerifyPolicy& policy) {
    PeLayout layout;
    switch (ParsePeLayout(data, size, layout)) {
        case PeLayoutStatus::kOk: break;
        case PeLayoutStatus::kNotPe: return TRUST_E_SUBJECT_FORM_UNKNOWN;
        case PeLayoutStatus::kBadCertificatePlacement: return TRUST_E_NOSIGNATURE;
    }
    if (layout.certificateTable.size == 0) return TRUST_E_NOSIGNATURE;
    const std::optional<ByteRange> signedDataRange = FindSignedData(data, size, layout.certificateTable);
    if (!signedDataRange) return TRUST_E_NOSIGNATURE;
    Pkcs7Ptr primary = ReadSignedData(data, *signedDataRange);
    if (primary == nullptr) return TRUST_E_NOSIGNATURE;

    const LONG status = VerifySignature(*primary, data, size, layout, policy);
    if (status != ERROR_SUCCESS && status != kNotJudged) return status;
    bool judged = status == ERROR_SUCCESS;
    // The primary signature has one signer by now; what it nests must hold too.
    const auto nested = NestedSignatures(*sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(primary.get()), 0));
    if (!nested) return TRUST_E_NOSIGNATURE;
    for (const Pkcs7Ptr& signature : *nested) {
        const LONG nestedStatus = VerifySignature(*signature, data, size, layout, policy);
        if (nestedStatus == kNotJudged) continue;
        if (nestedStatus != ERROR_SUCCESS) return nestedStatus;
        judged = true;
    }
    return judged ? ERROR_SUCCESS : NTE_BAD_ALGID;
}

}  // namespace ktutils::detail
