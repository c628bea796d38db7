#include "ktutils/library/verify_file.h"

#include "ktutils/library/detail/trust_service.h"

namespace ktutils {

TrustVerdict VerifyFile(const char* path, const VerifyOptions& options) {
    const char* roots = options.trustRoots.empty() ? nullptr : options.trustRoots.c_str();
    TrustVerdict verdict;
    verdict.status = detail::AskTrustService(path, options.uiChoice, roots);
    verdict.trusted = detail::Trusted(verdict.status, options.acceptProviderUnknown);
    return verdict;
}

}  // namespace ktutils
