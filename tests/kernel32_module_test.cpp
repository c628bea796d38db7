// The loader stand-ins as the program itself calls them: this executable
// links them in, so they run from the main program, whose folder the loader
// records without a name (the path a statically linked ktutils takes).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <filesystem>
#include <string>

#include "ktutils/host/win32/kernel32.h"

namespace fs = std::filesystem;

namespace {

// The file the loader loaded for `module`.
std::string LoadedFile(HMODULE module) {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
    return map->l_name;
}

TEST(Kernel32Module, LoadsAModuleByItsWindowsNameFromBesideTheProgram) {
    // The build puts a copy of the provider beside this program.
    const std::string besideProgram = fs::canonical("/proc/self/exe").parent_path() / "libwintrust.so";
    for (const char* name : {"wintrust.dll", "WinTrust.DLL"}) {
        SCOPED_TRACE(name);
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << dlerror();
        EXPECT_EQ(LoadedFile(module), besideProgram);
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
