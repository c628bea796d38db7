#pragma once

#include <optional>
#include <string>

#include "ktutils/host/wintrust/openssl_ptr.h"

namespace ktutils::detail {

// The file or directory of them that names the trusted roots, or none
// for OpenSSL's defaults. The caller's choice for one verification (the
// KTUTILS_TRUST_ROOTS variable, or what the library hands over).
using TrustRoots = std::optional<std::string>;

// The trusted roots. With `roots`, exactly the certificates it names: a PEM
// file (or one DER certificate), or a directory whose every regular file is
// read as one (no hashed names needed); nothing else is trusted, and a name
// that cannot be read leaves the store empty. Without, OpenSSL's default
// verify paths (which SSL_CERT_FILE and SSL_CERT_DIR replace). Read afresh
// for each use, so a change of the files takes effect at the next
// verification. Null when the store cannot be made.
X509StorePtr NewTrustStore(const TrustRoots& roots);

}  // namespace ktutils::detail
