#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <set>
#include <string>

#include "ktutils/ktutils.h"

namespace {

TEST(MessageTypeNames, NameEveryTypeOfBothRuns) {
    const struct {
        uint16_t type;
        const char* name;
    } expected[] = {
        {14, "KTMESSAGETYPE2_CONNECTED"},
        {15, "KTMESSAGETYPE2_CONNECTEDDUAL"},
        {16, "KTMESSAGETYPE2_SHUTDOWN"},
        {17, "KTMESSAGETYPE2_PING"},
        {18, "KTMESSAGETYPE2_BEGINCHALLENGE"},
        {19, "KTMESSAGETYPE2_BEGINCHALLENGESSL"},
        {20, "KTMESSAGETYPE2_CHALLENGE"},
        {21, "KTMESSAGETYPE2_CHALLENGECONNECT"},
        {22, "KTMESSAGETYPE2_CHALLENGECONNECTDUAL"},
        {23, "KTMESSAGETYPE2_KEEPALIVE"},
        {24, "KTMESSAGETYPE2_SSL"},
        {25, "KTMESSAGETYPE2_LOOKFORSERVER"},
        {26, "KTMESSAGETYPE2_SERVERINFO"},
        {27, "KTMESSAGETYPE2_CHALLENGECONNECTEX"},
        {28, "KTMESSAGETYPE2_CHALLENGECONNECTDUALEX"},
        {29, "KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED"},
        {120, "KTMESSAGETYPE2_CONNECTIONERROR"},
        {121, "KTMESSAGETYPE2_SERVERFULL"},
        {122, "KTMESSAGETYPE2_SERVERDENIED"},
        {123, "KTMESSAGETYPE2_BADVERSION"},
        {124, "KTMESSAGETYPE2_BADMODULE"},
        {125, "KTMESSAGETYPE2_NOTCONNECTEDYET"},
        {126, "KTMESSAGETYPE2_ALREADYCONNECTED"},
    };
    for (const auto& row : expected) {
        EXPECT_STREQ(KTUMessage2::KTUMessage2TypeToString(row.type), row.name) << row.type;
    }
}

TEST(MessageTypeNames, NumbersOutsideTheRunsAreUnknown) {
    for (unsigned type : {0u, 13u, 30u, 119u, 127u, 256u + 14u, 65535u}) {
        EXPECT_STREQ(KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type)),
                     "UNKNOWN_MESSAGE")
            << type;
    }
    // Exactly the 23 types of the two runs have names of their own.
    std::set<std::string> named;
    for (unsigned type = 0; type <= 0xFFFF; ++type) {
        const std::string name = KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type));
        if (name != "UNKNOWN_MESSAGE") named.insert(name);
    }
    EXPECT_EQ(named.size(), 23u);
}

TEST(MessageTypeNames, EachNameIsOneStaticText) {
    EXPECT_EQ(KTUMessage2::KTUMessage2TypeToString(17), KTUMessage2::KTUMessage2TypeToString(17));
    EXPECT_EQ(KTUMessage2::KTUMessage2TypeToString(0), KTUMessage2::KTUMessage2TypeToString(999));
}

TEST(ErrorNames, NameTheTableAndItsBoundaries) {
    EXPECT_STREQ(KTERRToString(KT_OK), "KT_OK");
    EXPECT_STREQ(KTERRToString(KTERR_GENERIC), "KTERR_GENERIC");
    EXPECT_STREQ(KTERRToString(KTERR_CXERROR), "KTERR_CXERROR");
    EXPECT_STREQ(KTERRToString(KTERR(10)), "KTERR_CLIENTDISCONNECTED");
    EXPECT_STREQ(KTERRToString(KTERR(27)), "KTERR_TOOMANYERROR");
    EXPECT_STREQ(KTERRToString(KTERR(29)), "KTERR_HELLO");
    EXPECT_STREQ(KTERRToString(KTERR(31)), "KTERR_AUTHFAILED");
    EXPECT_STREQ(KTERRToString(KTERR(5000)), "KTERR_USER");
}

TEST(ErrorNames, ValuesWithoutARowAreUnknown) {
    // The gaps inside the run, its edges and far outside it.
    for (int code : {9, 14, 30, 32, 4999, 5001, -1, INT_MIN, INT_MAX}) {
        EXPECT_STREQ(KTERRToString(static_cast<KTERR>(code)), "UNKNOWN_ERROR") << code;
    }
    int named = 0;
    for (int code = -10; code <= 6000; ++code) {
        if (std::string(KTERRToString(static_cast<KTERR>(code))) != "UNKNOWN_ERROR") ++named;
    }
    EXPECT_EQ(named, 30);
}

TEST(ErrorNames, EachNameIsOneStaticText) {
    EXPECT_EQ(KTERRToString(KTERR_SERVERFULL), KTERRToString(KTERR_SERVERFULL));
    EXPECT_EQ(KTERRToString(KTERR(-1)), KTERRToString(KTERR(4999)));
}

TEST(LibraryVersion, IsZeroZeroZeroThree) {
    const KTUVersion& v = GetKTUVersion();
    EXPECT_EQ(v.parts[0], 0);
    EXPECT_EQ(v.parts[1], 0);
    EXPECT_EQ(v.parts[2], 0);
    EXPECT_EQ(v.parts[3], 3);
}

TEST(LibraryVersion, IsOneObject) { EXPECT_EQ(&GetKTUVersion(), &GetKTUVersion()); }

}  // namespace
