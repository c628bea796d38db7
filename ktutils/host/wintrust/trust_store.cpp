#include "ktutils/host/wintrust/trust_store.h"

#include <filesystem>
#include <system_error>

namespace ktutils::detail {
namespace {

// Files that are not certificates are skipped: a directory of roots may hold
// a README or a hashed link to a file already read.
void LoadRoots(X509_STORE& store, const std::filesystem::path& roots) {
    std::error_code error;
    if (!std::filesystem::is_directory(roots, error)) {
        X509_STORE_load_file(&store, roots.c_str());
        return;
    }
    for (std::filesystem::directory_iterator it(roots, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) X509_STORE_load_file(&store, it->path().c_str());
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
