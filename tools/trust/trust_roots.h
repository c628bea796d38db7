#pragma once

#include <string>

namespace ktutils::tool {

// Whether the roots named by --roots or KTUTILS_TRUST_ROOTS hold a
// certificate for the trust service to read: a file with a PEM certificate
// block, or a DER certificate whole; a folder with such a file directly in
// it. When not, `why` says so ("no certificate in it", or why it cannot be
// read). The trust service would read nothing from them and trust nothing:
// each file would be refused as though it were signed by a stranger.
bool HoldsCertificate(const std::string& roots, std::string& why);

}  // namespace ktutils::tool
