#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include "host/win32/kernel32.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;

// A name without a folder that ends in ".dll", in any case, is the platform's "lib<name>.so", found first beside
// the program (the build copies the provider there; the loader records the program, as a statically linked
// ktutils, without a name); any other name is taken as it is.
TEST(Kernel32Module, LoadsWindowsNamesAsThePlatformsModulesAndOtherNamesAsGiven) {
    const std::string beside = fs::canonical("/proc/self/exe").parent_path() / "libwintrust.so";
    TempDir dir;
    const std::string copy = dir.Path("wintrust.dll");
    fs::copy_file(beside, copy);
    const std::pair<const char*, std::string> cases[] = {
        {"wintrust.dll", beside}, {"WinTrust.DLL", beside}, {"libwintrust.so", beside}, {copy.c_str(), copy},
        {"ktutils-no-such-module.dll", ""}, {"/nonexistent/wintrust.dll", ""}, {".dll", ""}, {"", ""}, {nullptr, ""}};
    for (const auto& [name, loaded] : cases) {
        SCOPED_TRACE(name ? name : "null");
        HMODULE module = LoadLibraryA(name);
        link_map* map = nullptr;
        ASSERT_EQ(module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 ? map->l_name : "", loaded);
        if (module == nullptr) continue;
        EXPECT_NE(GetProcAddress(module, "WinVerifyTrust"), nullptr);
        EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
        EXPECT_EQ(FreeLibrary(module), TRUE);
    }
    EXPECT_EQ(GetProcAddress(nullptr, "WinVerifyTrust"), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
}
