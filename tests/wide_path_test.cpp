#include "ktutils/host/wintrust/wide_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ktutils::detail::WidePathToUtf8;

TEST(WidePathToUtf8, ConvertsUtf16PathsToUtf8) {
    EXPECT_EQ(WidePathToUtf8(u"/srv/component.dll"), "/srv/component.dll");
    EXPECT_EQ(WidePathToUtf8(u"caf\u00E9/\u20AC/\U0001F600"), "caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80");
    EXPECT_EQ(WidePathToUtf8(u""), "");
}

TEST(WidePathToUtf8, RefusesWhatNoUtf8NameCanBe) {
    EXPECT_FALSE(WidePathToUtf8(nullptr));
    const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
    const char16_t loneLow[] = {0xDE00, 0};
    const char16_t highAtEnd[] = {u'a', 0xD83D, 0};
    EXPECT_FALSE(WidePathToUtf8(loneHigh));
    EXPECT_FALSE(WidePathToUtf8(loneLow));
    EXPECT_FALSE(WidePathToUtf8(highAtEnd));
}

TEST(WidePathToUtf8, AcceptsWindowsLongestPathAndNoLonger) {
    const std::u16string longest(32767, u'a');
    EXPECT_EQ(WidePathToUtf8(longest.c_str())->size(), 32767u);
    const std::u16string tooLong(32768, u'a');
    EXPECT_FALSE(WidePathToUtf8(tooLong.c_str()));
}

}  // namespace
