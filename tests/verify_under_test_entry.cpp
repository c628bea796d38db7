// The entry the rule tests look up in their copy of the library's
// verification: a plain C name, so that dlsym needs no mangled one.
#include "ktutils/library/verify_server_component.h"

extern "C" __attribute__((visibility("default"))) int KtutilsVerifyUnderTest(char* path, uint32_t uiChoice,
                                                                             int acceptProviderUnknown) {
    return VerifyServerComponent(path, uiChoice, acceptProviderUnknown);
}
