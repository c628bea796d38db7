#include "host/wintrust/wide_path.h"

#include <gtest/gtest.h>

#include <string>

// UTF-16 paths become UTF-8; what no UTF-8 name can be is refused.
TEST(WidePathToUtf8, ConvertsPathsUpToWindowsLongestAndRefusesTheRest) {
    const struct {
        std::u16string in;
        std::optional<std::string> out;
    } cases[] = {
        {u"/srv/component.dll", "/srv/component.dll"},
        {u"caf\u00E9/\u20AC/\U0001F600", "caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"},
        {u"", ""},
        {std::u16string{u'a', 0xD83D, u'b'}, std::nullopt},  // a lone high surrogate
        {std::u16string{0xDE00}, std::nullopt},              // a lone low one
        {std::u16string{u'a', 0xD83D}, std::nullopt},        // a high one at the end
        {std::u16string(32767, u'a'), std::string(32767, 'a')},
        {std::u16string(32768, u'a'), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ktutils::detail::WidePathToUtf8(c.in.c_str()), c.out) << c.in.size();
    EXPECT_FALSE(ktutils::detail::WidePathToUtf8(nullptr));
}
