#include "host/wintrust/wide_path.h"

#include <gtest/gtest.h>

// UTF-16 paths become UTF-8; what no UTF-8 name can be is refused.
TEST(WidePathToUtf8, ConvertsPathsUpToWindowsLongestAndRefusesTheRest) {
    const std::pair<std::u16string, std::optional<std::string>> cases[] = {
        {u"/srv/component.dll", "/srv/component.dll"},
        {u"caf\u00E9/\u20AC/\U0001F600", "caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"},
        {u"", ""},
        {std::u16string{u'a', 0xD83D, u'b'}, std::nullopt},  // a lone high surrogate, a lone low one, a high at the end
        {std::u16string{0xDE00}, std::nullopt},
        {std::u16string{u'a', 0xD83D}, std::nullopt},
        {std::u16string(32767, u'a'), std::string(32767, 'a')},
        {std::u16string(32768, u'a'), std::nullopt},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ktutils::detail::WidePathToUtf8(in.c_str()), out) << in.size();
    EXPECT_FALSE(ktutils::detail::WidePathToUtf8(nullptr));
}
