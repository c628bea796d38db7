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

void PendingPlaces::Add(int id) {
    Remove(id);
    where_[id] = {false, silent_.insert(silent_.end(), id)};
}

void PendingPlaces::Heard(int id) {
    const auto it = where_.find(id);
    if (it == where_.end()) return;
    Place& place = it->second;
    talking_.splice(talking_.end(), place.talking ? talking_ : silent_, place.at);
    place.talking = true;
}

void PendingPlaces::Remove(int id) {
    const auto it = where_.find(id);
    if (it == where_.end()) return;
    (it->second.talking ? talking_ : silent_).erase(it->second.at);
    where_.erase(it);
}

std::optional<int> PendingPlaces::Next() const {
    if (!silent_.empty()) return silent_.front();
    if (!talking_.empty()) return talking_.front();
    return std::nullopt;
}

}  // namespace ktutils::tool
