#include "host/wintrust/trust_store.h"

namespace ktutils::detail {

X509StorePtr NewTrustStore() {
    X509StorePtr store(X509_STORE_new());
    if (store == nullptr || X509_STORE_set_default_paths(store.get()) != 1) return nullptr;
    return store;
}

}  // namespace ktutils::detail
