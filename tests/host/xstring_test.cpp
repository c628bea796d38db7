#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "ktutils/host/mqmath/xstring.h"

namespace {

// Host programs read the text through the object's first word, null included.
const char* FirstWord(const XString& s) { return *reinterpret_cast<const char* const*>(&s); }

TEST(XString, HoldsNoTextUntilGivenOneAndCopiesThatStateExactly) {
    XString none, held("held"), copied(held), moved(std::move(copied));
    EXPECT_TRUE(FirstWord(none) == nullptr && FirstWord(XString(none)) == nullptr && *none.CStr() == '\0' &&
                FirstWord(copied) == nullptr && std::string(FirstWord(moved)) == "held");  // NOLINT(bugprone-use-after-move)
    moved = std::move(held = none);
    EXPECT_TRUE(FirstWord(held) == nullptr && FirstWord(moved) == nullptr && held == XString("") &&
                XString("a") != XString("b") && XString("a") != XString("ab"));
}

// Text that fits stays in the buffer, more moves it; text from the string itself survives either way.
TEST(XString, AssignsAndAppendsOwnCopiesEvenOfItself) {
    char source[] = "dir/file.bin";
    // op: '=' assigns, '<' appends `text`, or the string's own text from `from` unless that is -1.
    const struct { char op; const char* text; int from; const char* result; bool inPlace; } steps[] = {
        {'<', ".crc", -1, ".crc", false}, {'=', "abcd", -1, "abcd", true}, {'=', "abcde", -1, "abcde", false},
        {'<', "f", -1, "abcdef", false}, {'<', nullptr, 0, "abcdefabcdef", false},
        {'<', nullptr, 6, "abcdefabcdefabcdef", true}, {'=', nullptr, 12, "abcdef", true}, {'<', "", -1, "abcdef", true},
        {'=', source, -1, "dir/file.bin", true}, {'<', nullptr, -1, "dir/file.bin", true}, {'=', nullptr, -1, "", true},
        {'=', "a", -1, "a", true}, {'<', "bcdefghijklmnopqrstuvwxyz0123456789", -1, "abcdefghijklmnopqrstuvwxyz0123456789", false}};
    XString s;
    for (const auto& step : steps) {
        const char* before = s.GetBuffer();
        const char* text = step.from < 0 ? step.text : before + step.from;
        step.op == '=' ? void(s = text) : void(s << text);
        if (text == source) source[0] = 'X';  // the string keeps its own copy
        EXPECT_STREQ(s.CStr(), step.result);
        EXPECT_EQ(std::make_pair(s.GetLength(), s.GetBuffer() == before),
                  std::make_pair(std::char_traits<char>::length(step.result), step.inPlace)) << step.result;
    }
}

}  // namespace
