#include "host/wintrust/timestamp.h"

#include <openssl/asn1.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include "host/wintrust/object_id.h"
#include "host/wintrust/openssl_ptr.h"
#include "host/wintrust/trust_store.h"

namespace ktutils::detail {
namespace {

// The token in the signer's one timestamp attribute, or null.
Pkcs7Ptr FindTimestampToken(const PKCS7_SIGNER_INFO& signer) {
    const ASN1_TYPE* found = nullptr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer.unauth_attr); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer.unauth_attr, i);
        if (!ObjectIs(X509_ATTRIBUTE_get0_object(attribute), kSpcRfc3161TimestampOid)) continue;
        // Two timestamps, or one attribute with two values, is ambiguous.
        if (found != nullptr || X509_ATTRIBUTE_count(attribute) != 1) return nullptr;
        found = X509_ATTRIBUTE_get0_type(attribute, 0);
    }
    if (found == nullptr || found->type != V_ASN1_SEQUENCE || found->value.sequence == nullptr) return nullptr;
    const unsigned char* p = found->value.sequence->data;
    const long length = found->value.sequence->length;
    Pkcs7Ptr token(d2i_PKCS7(nullptr, &p, length));
    if (token == nullptr || p != found->value.sequence->data + length) return nullptr;
    return token;
}

}  // namespace

std::optional<std::time_t> VerifiedTimestamp(PKCS7_SIGNER_INFO& signer) {
    Pkcs7Ptr token = FindTimestampToken(signer);
    if (token == nullptr || signer.enc_digest == nullptr) return std::nullopt;

    TsVerifyContextPtr context(TS_VERIFY_CTX_new());
    X509StorePtr store = NewTrustStore();
    BioPtr stamped(BIO_new_mem_buf(signer.enc_digest->data, signer.enc_digest->length));
    if (context == nullptr || store == nullptr || stamped == nullptr) return std::nullopt;
    // The context takes over the store and the data.
    TS_VERIFY_CTX_set_store(context.get(), store.release());
    TS_VERIFY_CTX_set_data(context.get(), stamped.release());
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    if (TS_RESP_verify_token(context.get(), token.get()) != 1) return std::nullopt;

    TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token.get()));
    if (info == nullptr) return std::nullopt;
    std::tm when{};
    if (ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &when) != 1) return std::nullopt;
    return timegm(&when);
}

}  // namespace ktutils::detail
