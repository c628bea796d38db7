#pragma once

#include "ktutils/host/wintrust/openssl_ptr.h"

namespace ktutils::detail {

// The trusted roots. When KTUTILS_TRUST_ROOTS is set, exactly the
// certificates it names: a PEM file (or one DER certificate), or a directory
// whose every regular file is read as one (no hashed names needed); nothing else is trusted, and a
// name that cannot be read leaves the store empty. When it is unset,
// OpenSSL's default verify paths (which SSL_CERT_FILE and SSL_CERT_DIR
// replace). Read afresh for each verification, so a change takes effect at
// the next call. Null when the store cannot be made.
X509StorePtr NewTrustStore();

}  // namespace ktutils::detail
