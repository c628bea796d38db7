// The loader stand-ins as the program itself calls them: this executable
// links them in, so they run from the main program, whose folder the loader
// records without a name (the path a statically linked ktutils takes).
#include <gtest/gtest.h>

#include "host/win32/kernel32.h"

namespace {

TEST(Kernel32Module, LoadsAModuleByItsWindowsName) {
    // Not beside this program: found on its run path as libwintrust.so.
    for (const char* name : {"wintrust.dll", "WinTrust.DLL"}) {
        SCOPED_TRACE(name);
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr);
        EXPECT_NE(GetProcAddress(module, "WinVerifyTrust"), nullptr);
        EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
        EXPECT_EQ(FreeLibrary(module), TRUE);
    }
}

TEST(Kernel32Module, FailsForModulesThatCannotBeFound) {
    EXPECT_EQ(LoadLibraryA("ktutils-no-such-module.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA("/nonexistent/wintrust.dll"), nullptr);  // a path is taken as it is
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "WinVerifyTrust"), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
}

}  // namespace
