#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include "ktutils/host/win32/kernel32.h"
#include "ktutils/host/wintrust/wide_path.h"
#include "tests/support/temp_dir.h"

// A name without a folder that ends in ".dll", in any case, is the platform's "lib<name>.so", found beside the
// program (where the build copies the provider; the loader records it without a name); other paths only if absolute.
TEST(Kernel32Module, LoadsWindowsNamesAsThePlatformsModulesAndOtherNamesAsGiven) {
    const std::string beside = std::filesystem::canonical("/proc/self/exe").parent_path() / "libwintrust.so";
    TempDir dir;
    const std::string copy = dir.Path("wintrust.dll"), relative = std::filesystem::relative(copy);
    std::filesystem::copy_file(beside, copy);
    const std::pair<const char*, std::string> cases[] = {
        {"wintrust.dll", beside}, {"WinTrust.DLL", beside}, {"libwintrust.so", beside}, {copy.c_str(), copy},
        {relative.c_str(), ""}, {"no-such-module.dll", ""}, {"/none/wintrust.dll", ""}, {".dll", ""}, {"dll", ""},
        {"", ""}, {nullptr, ""}};
    for (const auto& [name, loaded] : cases) {
        SCOPED_TRACE(name ? name : "null");
        HMODULE module = LoadLibraryA(name);
        link_map* map = nullptr;
        ASSERT_EQ(module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 ? map->l_name : "", loaded);
        if (module == nullptr) continue;
        EXPECT_NE(GetProcAddress(module, "WinVerifyTrust"), nullptr);
        for (LPCSTR none : {"NoSuchFunction", LPCSTR{}}) EXPECT_EQ(GetProcAddress(module, none), nullptr);
        EXPECT_EQ(FreeLibrary(module), TRUE);
    }
    EXPECT_TRUE(GetProcAddress(nullptr, "WinVerifyTrust") == nullptr && FreeLibrary(nullptr) == FALSE);
}

// The system code page is UTF-8 here. A malformed sequence becomes one U+FFFD per longest well-formed prefix,
// as on Windows, or fails when asked to. Room 0 measures; output that does not fit, or invalid arguments, give 0.
TEST(MultiByteToWideChar, ConvertsUtf8AsWindowsDoesOrFails) {
    const struct { UINT codePage; DWORD flags; const char* in; int length, room, result; std::u16string out; } cases[] = {
        {CP_ACP, 0, "abc", -1, 8, 4, std::u16string(u"abc\0", 4)},  // up to and including the terminator
        {CP_ACP, 0, "abc", -1, 0, 4, u""}, {CP_ACP, 0, "abc", 1, 8, 1, u"a"},
        {CP_OEMCP, 0, "caf\xC3\xA9\xE2\x82\xAC", 8, 8, 5, u"caf\u00E9\u20AC"},
        {CP_THREAD_ACP, 0, "\xF0\x90\x80\x80", 4, 2, 2, u"\U00010000"},  // the first pair
        {CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, 3, 3, u"a\U0001F600"},
        {CP_UTF8, 0, "\xF4\x8F\xBF\xBF\xF5\x80", 6, 8, 4, u"\U0010FFFF\uFFFD\uFFFD"},  // the last code point; F5 leads nothing
        {CP_UTF8, 0, "ab\xF0\x9F\x98\x80", 6, 3, 0, u""},  // both halves of a pair or neither
        {CP_ACP, 0, "abcd", -1, 4, 0, u""}, {CP_ACP, 0, "a\xC3", 2, 8, 2, u"a\uFFFD"}, {CP_ACP, 0, "\xC3\xA9", 1, 8, 1, u"\uFFFD"},
        {CP_ACP, 0, "\xE2\x82" "a\xC0\xAF\xFF", 6, 8, 5, u"\uFFFD" "a\uFFFD\uFFFD\uFFFD"},
        {CP_ACP, 0, "\xE0\x80\xED\xA0\xF4\x90\xF0\x8F", 8, 8, 8, std::u16string(8, u'\uFFFD')},  // overlong, surrogate, >U+10FFFF
        {CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3", 2, 8, 0, u""}, {CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3\xA9", 3, 8, 2, u"a\u00E9"},
        {1252, 0, "a", -1, 4, 0, u""}, {CP_ACP, 0x1, "a", -1, 4, 0, u""},  // MB_PRECOMPOSED does not apply to UTF-8
        {CP_ACP, 0, nullptr, -1, 4, 0, u""}, {CP_ACP, 0, "a", 0, 4, 0, u""}, {CP_ACP, 0, "a", -1, -1, 0, u""},
        {CP_ACP, 0, "a", -2, 8, 0, u"xxxxxxxx"},  // nothing written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.in ? c.in : "null") << " room " << c.room);
        std::u16string out(8, u'x');
        EXPECT_EQ(MultiByteToWideChar(c.codePage, c.flags, c.in, c.length, c.room > 0 ? &out[0] : nullptr, c.room), c.result);
        EXPECT_EQ(out.substr(0, c.out.size()), c.out);
    }
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4), 0);
}

TEST(WidePathToUtf8, ConvertsPathsUpToWindowsLongestAndRefusesTheRest) {
    const std::pair<std::u16string, std::optional<std::string>> cases[] = {
        {u"/srv/component.dll", "/srv/component.dll"}, {u"", ""},
        {u"caf\u00E9/\u20AC/\U0001F600", "caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"},
        {std::u16string{u'a', 0xD83D, u'b'}, std::nullopt},  // lone surrogates: no UTF-8 name can match them
        {std::u16string{0xDE00}, std::nullopt},             {std::u16string{u'a', 0xD83D}, std::nullopt},
        {std::u16string{0xD800, 0xDC00, 0xDBFF, 0xDFFF}, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},  // the surrogates' edges
        {std::u16string{0xDBFF, 0xDC00, 0xD800, 0xDFFF}, "\xF4\x8F\xB0\x80\xF0\x90\x8F\xBF"}, {std::u16string{0xDFFF}, std::nullopt},
        {std::u16string(32767, u'a'), std::string(32767, 'a')}, {std::u16string(32768, u'a'), std::nullopt},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ktutils::detail::WidePathToUtf8(in.c_str()), out) << in.size();
    EXPECT_FALSE(ktutils::detail::WidePathToUtf8(nullptr));
}
