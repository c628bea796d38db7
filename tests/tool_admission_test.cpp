#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tools/admission.h"

namespace ktutils::tool {
namespace {

KTUGuidVersion Module(uint32_t id, uint32_t version) {
    KTUGuidVersion module;
    module.guid = {id, id};
    module.version = version;
    return module;
}

// A server with room for two offering modules 1:3 and 2:1, one client connected, and a request it accepts; each
// row spoils some of it. The first rule that fails decides: deny, challenge, already, version, module, capacity.
TEST(Admission, FirstFailingRuleDecidesAndBadModuleNamesTheRefusedInRequestOrder) {
    using S = ServerSettings;
    using R = ConnectRequest;
    using St = ServerState;
    const struct { std::function<void(S&, R&, St&)> spoil; Verdict verdict; uint8_t denial; std::vector<KTUGuidVersion> refused; } rows[] = {
        {[](S&, R&, St&) {}, Verdict::Connected, 0, {}},
        {[](S&, R& r, St&) { r.modules.clear(); }, Verdict::Connected, 0, {}},
        {[](S& s, R& r, St& st) { s.deny = st.nameInUse = true, st.challenge = 1, r.version.parts[0] = 9; },
         Verdict::Denied, kDeniedBySettings, {}},
        {[](S&, R&, St& st) { st.challenge = 0xC0FFEF, st.nameInUse = true; }, Verdict::Denied, kDeniedBadChallenge, {}},
        {[](S&, R&, St& st) { st.challengeIssued = false; }, Verdict::Denied, kDeniedBadChallenge, {}},
        {[](S&, R& r, St& st) { st.nameInUse = true, r.version.parts[3] = 4; }, Verdict::AlreadyConnected, 0, {}},
        {[](S&, R&, St& st) { st.connected = true; }, Verdict::AlreadyConnected, 0, {}},
        {[](S&, R& r, St&) { r.version.parts[0] = 1, r.modules = {Module(9, 9)}; }, Verdict::BadVersion, 0, {}},
        {[](S&, R& r, St&) { r.version.parts[1] = 1; }, Verdict::BadVersion, 0, {}},
        {[](S&, R& r, St&) { r.version.parts[2] = 1; }, Verdict::BadVersion, 0, {}},
        {[](S&, R& r, St& st) {
             r.modules = {Module(9, 1), Module(1, 3), Module(1, 4), Module(2, 1)}, st.connectedCount = 2;
         }, Verdict::BadModule, 0, {Module(9, 1), Module(1, 4)}},
        {[](S&, R&, St& st) { st.connectedCount = 2; }, Verdict::Full, 0, {}},
        {[](S& s, R&, St& st) { s.capacity = 0, st.connectedCount = 0; }, Verdict::Full, 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        S settings{KTUVersion(0, 0, 0, 3), {Module(1, 3), Module(2, 1)}, 2, false};
        R request{0xC0FFEE, "alice", settings.version, {Module(1, 3)}};
        St state{true, 0xC0FFEE, false, false, 1};
        row.spoil(settings, request, state);
        const Admission admission = Admit(settings, request, state);
        EXPECT_EQ(admission.verdict, row.verdict);
        EXPECT_EQ(admission.denial, row.denial);
        EXPECT_EQ(admission.refused, row.refused);
    }
}

}  // namespace
}  // namespace ktutils::tool
