#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "ktutils/ktutils.h"

namespace {

// Each number gets a static text, the same at every call: its constant's name, or the one fallback text. Each
// type's own name is pinned with its message in tests/protocol/golden/messages.hex.
TEST(Names, MessageTypesAndErrorCodesAreNamedAsTheirConstantsAndEveryOtherNumberIsUnknown) {
    const std::pair<int, const char*> rows[] = {{0, "KT_OK"}, {8, "KTERR_CXERROR"}, {10, "KTERR_CLIENTDISCONNECTED"},
        {27, "KTERR_TOOMANYERROR"}, {31, "KTERR_AUTHFAILED"}, {5000, "KTERR_USER"}, {9, "UNKNOWN_ERROR"},
        {14, "UNKNOWN_ERROR"}, {30, "UNKNOWN_ERROR"}, {32, "UNKNOWN_ERROR"}, {4999, "UNKNOWN_ERROR"},
        {5001, "UNKNOWN_ERROR"}, {-1, "UNKNOWN_ERROR"}, {INT_MIN, "UNKNOWN_ERROR"}, {INT_MAX, "UNKNOWN_ERROR"}};
    for (const auto& [code, name] : rows) EXPECT_STREQ(KTERRToString(static_cast<KTERR>(code)), name) << code;
    std::set<std::string> types, codes;  // the runs 14-29 and 120-126 alone have names of their own; 30 codes
    for (int n = -10; n <= 0xFFFF; ++n) {
        const char *type = KTUMessage2::KTUMessage2TypeToString(uint16_t(n)), *code = KTERRToString(KTERR(n));
        const bool inRuns = (n >= 14 && n <= 29) || (n >= 120 && n <= 126);
        EXPECT_TRUE(type == KTUMessage2::KTUMessage2TypeToString(uint16_t(n)) && code == KTERRToString(KTERR(n))) << n;
        EXPECT_EQ(std::string(type) == "UNKNOWN_MESSAGE", !inRuns) << n;
        if (inRuns) types.insert(type);
        if (std::string(code) != "UNKNOWN_ERROR") codes.insert(code);
    }
    EXPECT_EQ(std::make_pair(types.size(), codes.size()), std::make_pair(std::size_t{23}, std::size_t{30}));
}

TEST(LibraryVersion, IsZeroZeroZeroThreeInOneRecord) {
    EXPECT_EQ(GetKTUVersion(), KTUVersion(0, 0, 0, 3));
    EXPECT_EQ(&GetKTUVersion(), &GetKTUVersion());
}

}  // namespace
