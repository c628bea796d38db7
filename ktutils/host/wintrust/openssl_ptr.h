#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace ktutils::detail {

// Owning pointers for OpenSSL objects, so that every exit frees them.
template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const noexcept {
        Free(object);
    }
};

using BioPtr = std::unique_ptr<BIO, OpenSslFree<&BIO_free>>;
using BioChainPtr = std::unique_ptr<BIO, OpenSslFree<&BIO_free_all>>;
using MdContextPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<&EVP_MD_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<&PKCS7_free>>;
using TsTstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslFree<&TS_TST_INFO_free>>;
using TsVerifyContextPtr = std::unique_ptr<TS_VERIFY_CTX, OpenSslFree<&TS_VERIFY_CTX_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OpenSslFree<&X509_SIG_free>>;
using X509StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<&X509_STORE_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<&X509_STORE_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslFree<&ASN1_OBJECT_free>>;

}  // namespace ktutils::detail
