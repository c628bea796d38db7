#pragma once

#include "host/wintrust/openssl_ptr.h"

namespace ktutils::detail {

// The trusted roots: OpenSSL's default verify paths, which the environment
// variables SSL_CERT_FILE and SSL_CERT_DIR replace. Read afresh for each
// verification, so a root added or removed takes effect at the next call.
// Null when the store cannot be made.
X509StorePtr NewTrustStore();

}  // namespace ktutils::detail
