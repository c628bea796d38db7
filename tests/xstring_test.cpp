#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "ktutils/host/mqmath/xstring.h"

namespace {

TEST(XString, HoldsNoCharacterBufferUntilItFirstHoldsText) {
    XString s;
    EXPECT_EQ(s.GetBuffer(), nullptr);
    EXPECT_STREQ(s.CStr(), "");
    XString copy(s);
    EXPECT_EQ(copy.GetBuffer(), nullptr);
    s = "";
    ASSERT_NE(s.GetBuffer(), nullptr);
    EXPECT_STREQ(s.GetBuffer(), "");
}

TEST(XString, TheCharacterPointerIsTheFirstMember) {
    // Host programs read the text through the object's first word.
    XString s;
    s = "first";
    const char* firstWord = *reinterpret_cast<const char* const*>(&s);
    EXPECT_EQ(firstWord, s.GetBuffer());
}

TEST(XString, AssignmentKeepsItsOwnCopy) {
    char source[] = "module";
    XString s;
    s = source;
    source[0] = 'X';
    EXPECT_STREQ(s.CStr(), "module");
    EXPECT_NE(s.GetBuffer(), source);
    s = "a much longer text than before";
    EXPECT_STREQ(s.CStr(), "a much longer text than before");
    s = "short";
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_STREQ(s.CStr(), "short");
}

TEST(XString, AppendsAndBuildsAMarkerName) {
    XString s;
    s << ".crc";  // appending to a string without text starts one
    EXPECT_STREQ(s.CStr(), ".crc");
    s = "dir/file.bin";
    s << ".crc";
    EXPECT_STREQ(s.CStr(), "dir/file.bin.crc");
    s << nullptr;
    s << "";
    EXPECT_STREQ(s.CStr(), "dir/file.bin.crc");
}

TEST(XString, TextFromItsOwnBufferIsSafe) {
    XString s;
    s = "abc";
    s << s.GetBuffer();  // may reallocate while reading its own text
    EXPECT_STREQ(s.CStr(), "abcabc");
    s = s.GetBuffer() + 3;
    EXPECT_STREQ(s.CStr(), "abc");
    for (int i = 0; i < 6; ++i) s << s.GetBuffer();
    EXPECT_EQ(s.GetLength(), 3u * 64u);
}

TEST(XString, NullAssignsTheEmptyText) {
    XString s;
    s = static_cast<const char*>(nullptr);
    ASSERT_NE(s.GetBuffer(), nullptr);
    EXPECT_STREQ(s.GetBuffer(), "");
}

TEST(XString, CopyMoveAndCompare) {
    XString a("text");
    XString b(a);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.GetBuffer(), b.GetBuffer());
    XString c(std::move(a));
    EXPECT_EQ(c, b);
    EXPECT_EQ(a.GetBuffer(), nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(XString(), XString(""));
    EXPECT_NE(XString("a"), XString("b"));
    XString held("held");
    const XString none;
    held = none;  // a copy is exact, the null pointer included
    EXPECT_EQ(held.GetBuffer(), nullptr);
    held = "again";
    EXPECT_STREQ(held.CStr(), "again");
}

}  // namespace
