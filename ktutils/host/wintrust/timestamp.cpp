#include "ktutils/host/wintrust/timestamp.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/host/wintrust/object_id.h"
#include "ktutils/host/wintrust/openssl_ptr.h"
#include "ktutils/host/wintrust/trust_store.h"

namespace ktutils::detail {
namespace {

using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, OpenSslFree<&PKCS7_SIGNER_INFO_free>>;

constexpr SigningTime kBadStamp{TRUST_E_TIME_STAMP, std::nullopt};

std::optional<std::time_t> ToTime(const ASN1_TIME* time) {
    std::tm when{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &when) != 1) return std::nullopt;
    return timegm(&when);
}

// A SEQUENCE value decoded whole with `Decode`, or null.
template <typename Ptr, auto Decode>
Ptr DecodeWhole(const ASN1_TYPE* value) {
    if (value == nullptr || value->type != V_ASN1_SEQUENCE || value->value.sequence == nullptr) return nullptr;
    const unsigned char* p = value->value.sequence->data;
    const long length = value->value.sequence->length;
    Ptr decoded(Decode(nullptr, &p, length));
    if (p != value->value.sequence->data + length) return nullptr;
    return decoded;
}

SigningTime JudgeRfc3161(const ASN1_TYPE* value, const PKCS7_SIGNER_INFO& signer, const TrustRoots& roots) {
    Pkcs7Ptr token = DecodeWhole<Pkcs7Ptr, d2i_PKCS7>(value);
    TsVerifyContextPtr context(TS_VERIFY_CTX_new());
    X509StorePtr store = NewTrustStore(roots);
    BioPtr stamped(BIO_new_mem_buf(signer.enc_digest->data, signer.enc_digest->length));
    if (token == nullptr || context == nullptr || store == nullptr || stamped == nullptr) return kBadStamp;
    // The context takes over the store and the data.
    TS_VERIFY_CTX_set_store(context.get(), store.release());
    TS_VERIFY_CTX_set_data(context.get(), stamped.release());
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    if (TS_RESP_verify_token(context.get(), token.get()) != 1) return kBadStamp;
    TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token.get()));
    const auto at = info == nullptr ? std::nullopt : ToTime(TS_TST_INFO_get_time(info.get()));
    return at ? SigningTime{0, at} : kBadStamp;
}

bool ChainsForTimeStamping(X509* authority, STACK_OF(X509) * certificates, const TrustRoots& roots) {
    X509StorePtr store = NewTrustStore(roots);
    X509StoreContextPtr context(X509_STORE_CTX_new());
    return store != nullptr && context != nullptr &&
           X509_STORE_CTX_init(context.get(), store.get(), authority, certificates) == 1 &&
           X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_TIMESTAMP_SIGN) == 1 &&
           X509_verify_cert(context.get()) == 1;
}

SigningTime JudgePkcs9(const ASN1_TYPE* value, const PKCS7_SIGNER_INFO& signer, STACK_OF(X509) * certificates,
                       const TrustRoots& roots) {
    SignerInfoPtr counter = DecodeWhole<SignerInfoPtr, d2i_PKCS7_SIGNER_INFO>(value);
    if (counter == nullptr || counter->issuer_and_serial == nullptr || counter->auth_attr == nullptr)
        return kBadStamp;
    X509* authority = X509_find_by_issuer_and_serial(certificates, counter->issuer_and_serial->issuer,
                                                     counter->issuer_and_serial->serial);
    const EVP_MD* algorithm = EVP_get_digestbyobj(counter->digest_alg->algorithm);
    if (authority == nullptr || algorithm == nullptr) return kBadStamp;

    // Its messageDigest must be the hash of the signer's signature value...
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    const ASN1_OCTET_STRING* claimed = PKCS7_digest_from_attributes(counter->auth_attr);
    if (EVP_Digest(signer.enc_digest->data, static_cast<std::size_t>(signer.enc_digest->length), digest,
                   &digestSize, algorithm, nullptr) != 1 ||
        claimed == nullptr || static_cast<unsigned int>(claimed->length) != digestSize ||
        CRYPTO_memcmp(claimed->data, digest, digestSize) != 0)
        return kBadStamp;

    // ...and its signature must cover its attributes, in their DER SET form.
    unsigned char* attributes = nullptr;
    const int attributesSize = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(counter->auth_attr), &attributes,
                                             ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    MdContextPtr verify(EVP_MD_CTX_new());
    const bool signatureHolds =
        attributesSize > 0 && verify != nullptr &&
        EVP_DigestVerifyInit(verify.get(), nullptr, algorithm, nullptr, X509_get0_pubkey(authority)) == 1 &&
        EVP_DigestVerify(verify.get(), counter->enc_digest->data,
                         static_cast<std::size_t>(counter->enc_digest->length), attributes,
                         static_cast<std::size_t>(attributesSize)) == 1;
    OPENSSL_free(attributes);
    if (!signatureHolds || !ChainsForTimeStamping(authority, certificates, roots)) return kBadStamp;

    const ASN1_TYPE* signingTime = PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
    if (signingTime == nullptr ||
        (signingTime->type != V_ASN1_UTCTIME && signingTime->type != V_ASN1_GENERALIZEDTIME))
        return kBadStamp;
    const auto at = ToTime(signingTime->value.utctime);
    return at ? SigningTime{0, at} : kBadStamp;
}

}  // namespace

SigningTime JudgeCountersignature(PKCS7_SIGNER_INFO& signer, STACK_OF(X509) * certificates, const TrustRoots& roots) {
    const ASN1_TYPE* found = nullptr;
    bool rfc3161 = false;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer.unauth_attr); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer.unauth_attr, i);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        const bool isRfc3161 = ObjectIs(type, kSpcRfc3161TimestampOid);
        if (!isRfc3161 && OBJ_obj2nid(type) != NID_pkcs9_countersignature) continue;
        // Two stamps, or one attribute with two values, is ambiguous.
        if (found != nullptr || X509_ATTRIBUTE_count(attribute) != 1) return kBadStamp;
        found = X509_ATTRIBUTE_get0_type(attribute, 0);
        rfc3161 = isRfc3161;
    }
    if (found == nullptr) return {};
    if (signer.enc_digest == nullptr) return kBadStamp;
    return rfc3161 ? JudgeRfc3161(found, signer, roots) : JudgePkcs9(found, signer, certificates, roots);
}

}  // namespace ktutils::detail
