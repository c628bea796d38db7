#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "tools/admission.h"

namespace ktutils::tool {
namespace {

KTUGuidVersion Module(uint32_t id1, uint32_t id2, uint32_t version) {
    KTUGuidVersion module;
    module.guid = {id1, id2};
    module.version = version;
    return module;
}

// A server with room for two offering 1-1:3 and 2-2:1, one client connected, and a request it
// accepts; each row spoils some of it and names the verdict the first failing rule gives.
struct Case {
    const char* what;
    std::function<void(ServerSettings&, ConnectRequest&, ServerState&)> spoil;
    Verdict verdict;
    uint8_t denial;
};

TEST(Admission, FirstFailingRuleDecidesInOrderDenyChallengeAlreadyVersionModuleCapacity) {
    const Case cases[] = {
        {"accepted", [](auto&, auto&, auto&) {}, Verdict::Connected, 0},
        {"no module asked", [](auto&, auto& r, auto&) { r.modules.clear(); }, Verdict::Connected, 0},
        {"deny beats all", [](auto& s, auto& r, auto& st) {
             s.deny = st.nameInUse = true; st.challenge = 1; r.version.parts[0] = 9; st.connectedCount = 2;
         }, Verdict::Denied, kDeniedBySettings},
        {"wrong word", [](auto&, auto&, auto& st) { st.challenge = 0xC0FFEF; st.nameInUse = true; },
         Verdict::Denied, kDeniedBadChallenge},
        {"no challenge issued", [](auto&, auto&, auto& st) { st.challengeIssued = false; },
         Verdict::Denied, kDeniedBadChallenge},
        {"name in use", [](auto&, auto& r, auto& st) { st.nameInUse = true; r.version.parts[3] = 4; },
         Verdict::AlreadyConnected, 0},
        {"this connection", [](auto&, auto&, auto& st) { st.connected = true; }, Verdict::AlreadyConnected, 0},
        {"version part 0", [](auto&, auto& r, auto&) { r.version.parts[0] = 1; r.modules = {Module(9, 9, 9)}; },
         Verdict::BadVersion, 0},
        {"version part 1", [](auto&, auto& r, auto&) { r.version.parts[1] = 1; }, Verdict::BadVersion, 0},
        {"version part 2", [](auto&, auto& r, auto&) { r.version.parts[2] = 1; }, Verdict::BadVersion, 0},
        {"version part 3", [](auto&, auto& r, auto&) { r.version.parts[3] = 4; }, Verdict::BadVersion, 0},
        {"module", [](auto&, auto& r, auto& st) { r.modules = {Module(1, 1, 4)}; st.connectedCount = 2; },
         Verdict::BadModule, 0},
        {"full at capacity", [](auto&, auto&, auto& st) { st.connectedCount = 2; }, Verdict::Full, 0},
        {"capacity zero", [](auto& s, auto&, auto& st) { s.capacity = 0; st.connectedCount = 0; },
         Verdict::Full, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings settings;
        settings.version = KTUVersion(0, 0, 0, 3);
        settings.modules = {Module(1, 1, 3), Module(2, 2, 1)};
        settings.capacity = 2;
        ConnectRequest request;
        request.challenge = 0xC0FFEE;
        request.name = "alice";
        request.version = settings.version;
        request.modules = {Module(1, 1, 3)};
        ServerState state;
        state.challengeIssued = true;
        state.challenge = 0xC0FFEE;
        state.connectedCount = 1;
        c.spoil(settings, request, state);
        const Admission admission = Admit(settings, request, state);
        EXPECT_EQ(admission.verdict, c.verdict);
        if (c.verdict == Verdict::Denied) EXPECT_EQ(admission.denial, c.denial);
    }
}

TEST(Admission, BadModuleNamesOnlyTheRefusedModulesInRequestOrder) {
    ServerSettings settings;
    settings.modules = {Module(1, 1, 3), Module(2, 2, 1)};
    ConnectRequest request;
    request.modules = {Module(9, 9, 1), Module(1, 1, 3), Module(1, 1, 4), Module(2, 2, 1)};
    ServerState state;
    state.challengeIssued = true;
    const Admission admission = Admit(settings, request, state);
    EXPECT_EQ(admission.verdict, Verdict::BadModule);
    EXPECT_THAT(admission.refused, ::testing::ElementsAre(Module(9, 9, 1), Module(1, 1, 4)));
}

}  // namespace
}  // namespace ktutils::tool
