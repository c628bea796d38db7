#include "tools/net/admission.h"

#include <algorithm>

namespace ktutils::tool {
namespace {

// A module is accepted when the server offers the same identifier at the
// same version.
bool Offered(const ServerSettings& settings, const KTUGuidVersion& wanted) {
    return std::any_of(settings.modules.begin(), settings.modules.end(),
                       [&](const KTUGuidVersion& offered) { return offered == wanted; });
}

}  // namespace

Admission Admit(const ServerSettings& settings, const ConnectRequest& request,
                const ServerState& state) {
    Admission admission;
    if (settings.deny) {
        admission.verdict = Verdict::Denied;
        admission.denial = kDeniedBySettings;
    } else if (!state.challengeIssued || request.challenge != state.challenge) {
        admission.verdict = Verdict::Denied;
        admission.denial = kDeniedBadChallenge;
    } else if (state.connected || state.nameInUse) {
        admission.verdict = Verdict::AlreadyConnected;
    } else if (request.version != settings.version) {
        admission.verdict = Verdict::BadVersion;
    } else {
        for (const KTUGuidVersion& module : request.modules) {
            if (!Offered(settings, module)) admission.refused.push_back(module);
        }
        if (!admission.refused.empty()) {
            admission.verdict = Verdict::BadModule;
        } else if (state.connectedCount >= settings.capacity) {
            admission.verdict = Verdict::Full;
        }
    }
    return admission;
}

}  // namespace ktutils::tool
