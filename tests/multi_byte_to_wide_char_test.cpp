#include <gtest/gtest.h>

#include <string>

#include "ktutils/host/win32/kernel32.h"

namespace {

// Converts with Windows' two-call pattern: measure, then convert into exactly
// that much room.
std::u16string Convert(const std::string& text, DWORD flags = 0) {
    const int needed = MultiByteToWideChar(CP_ACP, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(needed), u'\0');
    if (needed == 0) return out;
    const int written =
        MultiByteToWideChar(CP_ACP, flags, text.data(), static_cast<int>(text.size()), out.data(), needed);
    EXPECT_EQ(written, needed);
    return out;
}

TEST(MultiByteToWideChar, ConvertsUpToAndIncludingTheTerminatorWithLengthMinusOne) {
    WCHAR out[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 8), 4);
    EXPECT_EQ(std::u16string(out, 5), std::u16string(u"abc\0x", 5));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);  // measured
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 2, out, 8), 2);       // an explicit length stops short
}

TEST(MultiByteToWideChar, TheSystemCodePageIsUtf8) {
    EXPECT_EQ(Convert("caf\xC3\xA9"), u"caf\u00E9");
    EXPECT_EQ(Convert("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(Convert("\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
    WCHAR out[4] = {};
    for (UINT codePage : {CP_OEMCP, CP_THREAD_ACP, CP_UTF8})
        EXPECT_EQ(MultiByteToWideChar(codePage, 0, "\xC3\xA9", -1, out, 4), 2) << codePage;
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, out, 4), 0);  // no other code page is known
}

TEST(MultiByteToWideChar, FailsRatherThanCutTheTextShort) {
    WCHAR out[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 4), 4);  // exactly fits
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", -1, out, 4), 0);
    // Both halves of a pair, or neither.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\xF0\x9F\x98\x80", -1, out, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xF0\x9F\x98\x80", -1, out, 4), 4);
}

TEST(MultiByteToWideChar, ReplacesEachMalformedSequenceWithOneReplacementCharacter) {
    EXPECT_EQ(Convert("a\xC3"), u"a\uFFFD");                         // cut short at the end
    EXPECT_EQ(Convert("\xE2\x82" "a"), u"\uFFFD" "a");               // cut short before a character
    EXPECT_EQ(Convert("\xC0\xAF"), u"\uFFFD\uFFFD");                 // overlong lead, lone continuation
    EXPECT_EQ(Convert("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");       // overlong three-byte form
    EXPECT_EQ(Convert("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");       // an encoded surrogate
    EXPECT_EQ(Convert("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
    EXPECT_EQ(Convert("\xFF" "b"), u"\uFFFD" "b");
}

TEST(MultiByteToWideChar, FailsOnMalformedInputWhenAskedTo) {
    WCHAR out[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3", 2, out, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3\xA9", 3, out, 8), 2);
}

TEST(MultiByteToWideChar, RefusesInvalidArguments) {
    WCHAR out[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, out, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, out, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -2, out, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, out, -1), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x1, "a", -1, out, 4), 0);  // MB_PRECOMPOSED does not apply to UTF-8
}

}  // namespace
