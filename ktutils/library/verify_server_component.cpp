#include "ktutils/library/verify_server_component.h"

#include "ktutils/library/detail/trust_service.h"

int VerifyServerComponent(char* path, uint32_t uiChoice, int acceptProviderUnknown) {
    const uint32_t status = ktutils::detail::AskTrustService(path, uiChoice, nullptr);
    return ktutils::detail::Trusted(status, acceptProviderUnknown != 0) ? 1 : 0;
}
