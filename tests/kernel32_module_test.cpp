// The loader stand-ins as the program itself calls them: the loader records
// the main program without a name (the path a statically linked ktutils takes).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <filesystem>
#include <string>

#include "host/win32/kernel32.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;

// A name without a folder that ends in ".dll", in any case, is the platform's
// "lib<name>.so", found first beside the program (the build copies the
// provider there); any other name is taken as it is.
TEST(Kernel32Module, LoadsWindowsNamesAsThePlatformsModulesAndOtherNamesAsGiven) {
    const std::string beside = fs::canonical("/proc/self/exe").parent_path() / "libwintrust.so";
    TempDir dir;
    const std::string copy = dir.Path("wintrust.dll");
    fs::copy_file(beside, copy);
    const struct {
        const char* name;
        std::string loaded;  // empty: none
    } cases[] = {
        {"wintrust.dll", beside}, {"WinTrust.DLL", beside},   {"libwintrust.so", beside},
        {copy.c_str(), copy},     {"ktutils-no-such-module.dll", ""}, {"/nonexistent/wintrust.dll", ""},
        {".dll", ""},             {"", ""},                   {nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        HMODULE module = LoadLibraryA(c.name);
        link_map* map = nullptr;
        ASSERT_EQ(module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 ? map->l_name : "", c.loaded);
        if (module == nullptr) continue;
        EXPECT_NE(GetProcAddress(module, "WinVerifyTrust"), nullptr);
        EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
        EXPECT_EQ(FreeLibrary(module), TRUE);
    }
    EXPECT_EQ(GetProcAddress(nullptr, "WinVerifyTrust"), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
}
