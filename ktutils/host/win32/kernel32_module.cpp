// LoadLibraryA, GetProcAddress and FreeLibrary over the dynamic loader.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <string>

#include "ktutils/host/win32/kernel32.h"

namespace {

bool HasDirectory(const std::string& name) { return name.find('/') != std::string::npos; }

bool EndsWithDll(const std::string& name) {
    if (name.size() < 4) return false;
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == ".dll";
}

// "wintrust.dll" names the module that this platform calls "libwintrust.so".
std::string PlatformModuleName(const std::string& name) {
    if (HasDirectory(name) || !EndsWithDll(name)) return name;
    std::string stem = name.substr(0, name.size() - 4);
    for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "lib" + stem + ".so";
}

// The directory of the module that holds this code: the library's own
// folder, or the program's when the library is linked statically. Taken from
// the loader's record of the module, or from the kernel for the program
// (which the loader records without a name), never from argv[0] or the
// working directory, which a caller could choose. Empty when the module was
// loaded by a relative name, which says nothing reliable about where it is.
std::string OwnModuleDirectory() {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&PlatformModuleName), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
        map == nullptr)
        return {};
    std::string file;
    if (map->l_name != nullptr && map->l_name[0] != '\0') {
        file = map->l_name;
    } else {
        char program[PATH_MAX + 1] = {};
        const ssize_t length = ::readlink("/proc/self/exe", program, PATH_MAX);
        if (length <= 0) return {};
        file.assign(program, static_cast<std::size_t>(length));
    }
    if (file.empty() || file.front() != '/') return {};
    const std::size_t slash = file.rfind('/');
    return slash == 0 ? "/" : file.substr(0, slash);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') return nullptr;
    const std::string name = PlatformModuleName(lpLibFileName);
    std::string path = name;
    if (!HasDirectory(name)) {
        // A module found beside the library is the one installed with it and
        // is taken even when it fails to load, as Windows stops at the first
        // file it finds.
        const std::string directory = OwnModuleDirectory();
        if (!directory.empty() && IsRegularFile(directory + "/" + name)) path = directory + "/" + name;
    }
    return static_cast<HMODULE>(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr) return FALSE;
    return dlclose(hLibModule) == 0 ? TRUE : FALSE;
}
