#include "ktutils/host/wintrust/indirect_data.h"

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include "ktutils/host/wintrust/object_id.h"
#include "ktutils/host/wintrust/openssl_ptr.h"

namespace ktutils::detail {
namespace {

// Steps over one DER header at `p` and checks that it opens a definite-length
// SEQUENCE that fits in `available` bytes; `length` is its content length.
bool EnterSequence(const unsigned char*& p, long available, long& length) {
    int tag = 0, objectClass = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &objectClass, available);
    // 0x80 flags an error, 0x01 an indefinite length, which DER forbids.
    return flags == V_ASN1_CONSTRUCTED && tag == V_ASN1_SEQUENCE && objectClass == V_ASN1_UNIVERSAL;
}

}  // namespace

std::optional<IndirectData> ReadIndirectData(const PKCS7& signedData) {
    if (OBJ_obj2nid(signedData.type) != NID_pkcs7_signed || signedData.d.sign == nullptr) return std::nullopt;
    const PKCS7* content = signedData.d.sign->contents;
    if (content == nullptr || !ObjectIs(content->type, kSpcIndirectDataOid)) return std::nullopt;
    const ASN1_TYPE* other = content->d.other;
    if (other == nullptr || other->type != V_ASN1_SEQUENCE || other->value.sequence == nullptr) return std::nullopt;

    // The ASN1_STRING holds the whole SEQUENCE, header included.
    const ASN1_STRING* sequence = other->value.sequence;
    const unsigned char* p = sequence->data;
    const unsigned char* const end = p + sequence->length;
    long length = 0;
    if (!EnterSequence(p, sequence->length, length) || p + length != end) return std::nullopt;

    IndirectData result;
    result.signedContent = p;
    result.signedContentSize = static_cast<std::size_t>(length);

    // SpcAttributeTypeAndOptionalValue: the subject must be a PE image.
    long attributeLength = 0;
    if (!EnterSequence(p, end - p, attributeLength)) return std::nullopt;
    const unsigned char* const attributeEnd = p + attributeLength;
    Asn1ObjectPtr subject(d2i_ASN1_OBJECT(nullptr, &p, attributeLength));
    if (subject == nullptr || p > attributeEnd || !ObjectIs(subject.get(), kSpcPeImageDataOid)) return std::nullopt;
    p = attributeEnd;

    // DigestInfo, which is the last element.
    X509SigPtr digestInfo(d2i_X509_SIG(nullptr, &p, end - p));
    if (digestInfo == nullptr || p != end) return std::nullopt;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &digest);
    const ASN1_OBJECT* algorithmId = nullptr;
    X509_ALGOR_get0(&algorithmId, nullptr, nullptr, algorithm);
    result.digestNid = OBJ_obj2nid(algorithmId);
    const unsigned char* digestBytes = ASN1_STRING_get0_data(digest);
    result.digest.assign(digestBytes, digestBytes + ASN1_STRING_length(digest));
    return result;
}

}  // namespace ktutils::detail
