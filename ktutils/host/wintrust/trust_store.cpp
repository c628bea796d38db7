#include "ktutils/host/wintrust/trust_store.h"

#include <filesystem>
#include <system_error>

namespace ktutils::detail {
namespace {

// PEM certificates, or else one DER certificate (`openssl x509 -outform
// DER`, the form Windows exports a root in).
void LoadFile(X509_STORE& store, const char* path) {
    const int before = sk_X509_OBJECT_num(X509_STORE_get0_objects(&store));
    if (X509_STORE_load_file(&store, path) == 1 && sk_X509_OBJECT_num(X509_STORE_get0_objects(&store)) > before) {
        return;
    }
    const BioPtr file(BIO_new_file(path, "rb"));
    X509* certificate = file != nullptr ? d2i_X509_bio(file.get(), nullptr) : nullptr;
    if (certificate == nullptr) return;
    X509_STORE_add_cert(&store, certificate);
    X509_free(certificate);  // the store holds its own reference
}

// Files that are not certificates are skipped: a directory of roots may hold
// a README or a hashed link to a file already read.
void LoadRoots(X509_STORE& store, const std::filesystem::path& roots) {
    std::error_code error;
    if (!std::filesystem::is_directory(roots, error)) {
        LoadFile(store, roots.c_str());
        return;
    }
    for (std::filesystem::directory_iterator it(roots, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) LoadFile(store, it->path().c_str());
    }
}

}  // namespace

X509StorePtr NewTrustStore(const TrustRoots& roots) {
    X509StorePtr store(X509_STORE_new());
    if (store == nullptr) return nullptr;
    if (roots) {
        LoadRoots(*store, *roots);
    } else if (X509_STORE_set_default_paths(store.get()) != 1) {
        return nullptr;
    }
    return store;
}

}  // namespace ktutils::detail
