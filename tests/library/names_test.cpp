// Names of message types and error codes for logs, and the library's own version.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "ktutils/ktutils.h"

namespace {

// Each type's own name is pinned with its message in tests/protocol/golden/messages.hex.
TEST(Names, MessageTypesAreNamedAsTheirConstantsAndEveryOtherNumberIsUnknown) {
    std::set<std::string> names;  // the runs 14-29 and 120-126 alone, each with a static text of its own
    for (unsigned type = 0; type <= 0xFFFF; ++type) {
        const char* name = KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type));
        const bool inRuns = (type >= 14 && type <= 29) || (type >= 120 && type <= 126);
        EXPECT_EQ(name, KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type)));
        EXPECT_EQ(std::string(name) == "UNKNOWN_MESSAGE", !inRuns) << type;
        if (inRuns) names.insert(name);
    }
    EXPECT_EQ(names.size(), 23u);
}

TEST(Names, ErrorCodesAreNamedAsTheirEnumeratorsAndEveryOtherValueIsUnknown) {
    const std::pair<int, const char*> rows[] = {{0, "KT_OK"}, {8, "KTERR_CXERROR"}, {10, "KTERR_CLIENTDISCONNECTED"},
        {27, "KTERR_TOOMANYERROR"}, {31, "KTERR_AUTHFAILED"}, {5000, "KTERR_USER"}, {9, "UNKNOWN_ERROR"},
        {14, "UNKNOWN_ERROR"}, {30, "UNKNOWN_ERROR"}, {32, "UNKNOWN_ERROR"}, {4999, "UNKNOWN_ERROR"},
        {5001, "UNKNOWN_ERROR"}, {-1, "UNKNOWN_ERROR"}, {INT_MIN, "UNKNOWN_ERROR"}, {INT_MAX, "UNKNOWN_ERROR"}};
    for (const auto& [code, name] : rows) EXPECT_STREQ(KTERRToString(static_cast<KTERR>(code)), name) << code;
    std::set<std::string> names;  // 30 codes, each with a static text of its own
    for (int code = -10; code <= 6000; ++code) {
        const char* name = KTERRToString(static_cast<KTERR>(code));
        EXPECT_EQ(name, KTERRToString(static_cast<KTERR>(code)));
        if (std::string(name) != "UNKNOWN_ERROR") names.insert(name);
    }
    EXPECT_EQ(names.size(), 30u);
}

TEST(LibraryVersion, IsZeroZeroZeroThreeInOneRecord) {
    EXPECT_EQ(GetKTUVersion(), KTUVersion(0, 0, 0, 3));
    EXPECT_EQ(&GetKTUVersion(), &GetKTUVersion());
}

}  // namespace
