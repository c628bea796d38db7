#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/admission.h"

namespace ktutils::tool {
namespace {

KTUGuidVersion Module(uint32_t id1, uint32_t id2, uint32_t version) {
    KTUGuidVersion module;
    module.guid = {id1, id2};
    module.version = version;
    return module;
}

// A server with room for two and module 1-1 at version 3, and a request that
// it accepts; each test spoils one thing.
class Admission : public ::testing::Test {
protected:
    Admission() {
        settings.version = KTUVersion(0, 0, 0, 3);
        settings.modules = {Module(1, 1, 3), Module(2, 2, 1)};
        settings.capacity = 2;
        request.challenge = 0xC0FFEE;
        request.name = "alice";
        request.version = settings.version;
        request.modules = {Module(1, 1, 3)};
        state.challengeIssued = true;
        state.challenge = 0xC0FFEE;
        state.connectedCount = 1;
    }

    Verdict Judge() const { return Admit(settings, request, state).verdict; }

    ServerSettings settings;
    ConnectRequest request;
    ServerState state;
};

TEST_F(Admission, AcceptsAMatchingRequestWhileThereIsRoom) {
    EXPECT_EQ(Judge(), Verdict::Connected);
    request.modules.clear();  // asking for no module at all is fine too
    EXPECT_EQ(Judge(), Verdict::Connected);
}

TEST_F(Admission, FullExactlyWhenTheConnectedCountReachesCapacity) {
    state.connectedCount = 2;
    EXPECT_EQ(Judge(), Verdict::Full);
    state.connectedCount = 1;
    EXPECT_EQ(Judge(), Verdict::Connected);
    settings.capacity = 0;
    state.connectedCount = 0;
    EXPECT_EQ(Judge(), Verdict::Full);
}

TEST_F(Admission, DeniesAChallengeThatWasNotIssuedOrNotItsWord) {
    state.challenge = 0xC0FFEF;
    Verdict verdict = Judge();
    EXPECT_EQ(verdict, Verdict::Denied);
    EXPECT_EQ(Admit(settings, request, state).denial, kDeniedBadChallenge);
    state.challenge = request.challenge;
    state.challengeIssued = false;
    EXPECT_EQ(Judge(), Verdict::Denied);
}

TEST_F(Admission, DenySettingRefusesEveryRequestWithItsOwnReason) {
    settings.deny = true;
    const auto admission = Admit(settings, request, state);
    EXPECT_EQ(admission.verdict, Verdict::Denied);
    EXPECT_EQ(admission.denial, kDeniedBySettings);
}

TEST_F(Admission, AnyDifferentVersionPartIsABadVersion) {
    for (int part = 0; part < 4; ++part) {
        request.version = settings.version;
        ++request.version.parts[part];
        EXPECT_EQ(Judge(), Verdict::BadVersion) << part;
    }
}

TEST_F(Admission, BadModuleNamesOnlyTheRefusedModulesInRequestOrder) {
    request.modules = {Module(9, 9, 1), Module(1, 1, 3), Module(1, 1, 4), Module(2, 2, 1)};
    const auto admission = Admit(settings, request, state);
    EXPECT_EQ(admission.verdict, Verdict::BadModule);
    EXPECT_THAT(admission.refused, ::testing::ElementsAre(Module(9, 9, 1), Module(1, 1, 4)));
}

TEST_F(Admission, AlreadyConnectedOnThisConnectionOrUnderANameInUse) {
    state.connected = true;
    EXPECT_EQ(Judge(), Verdict::AlreadyConnected);
    state.connected = false;
    state.nameInUse = true;
    EXPECT_EQ(Judge(), Verdict::AlreadyConnected);
}

// Each rule is checked before the ones after it, so a request that fails
// several learns the first reason in this order.
TEST_F(Admission, RulesApplyInOrderDenyChallengeAlreadyVersionModuleCapacity) {
    settings.deny = true;
    state.challenge = 1;
    state.nameInUse = true;
    request.version = KTUVersion(9, 9, 9, 9);
    request.modules = {Module(9, 9, 9)};
    state.connectedCount = 2;
    const Verdict order[] = {Verdict::Denied, Verdict::Denied, Verdict::AlreadyConnected,
                             Verdict::BadVersion, Verdict::BadModule, Verdict::Full};
    EXPECT_EQ(Judge(), order[0]);
    settings.deny = false;
    EXPECT_EQ(Judge(), order[1]);
    state.challenge = request.challenge;
    EXPECT_EQ(Judge(), order[2]);
    state.nameInUse = false;
    EXPECT_EQ(Judge(), order[3]);
    request.version = settings.version;
    EXPECT_EQ(Judge(), order[4]);
    request.modules.clear();
    EXPECT_EQ(Judge(), order[5]);
}

}  // namespace
}  // namespace ktutils::tool
