#pragma once

#include <cstdint>
#include <string>

namespace ktutils::tool {

// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND): the trust service could not be
// asked.
constexpr int32_t kTrustServiceMissing = static_cast<int32_t>(0x8007007Eu);

// The trust service's own status for `path`, which VerifyServerComponent
// keeps to itself. It is asked the same question, of the same module the
// library loads (libwintrust.so beside the loaded libktutils, or in its
// folder ktutils/; beside the program when ktutils is linked in): by
// absolute path, never by a name the loader would search for. Returns
// kTrustServiceMissing when there is none there.
int32_t AskTrustService(const std::string& path, uint32_t uiChoice);

}  // namespace ktutils::tool
