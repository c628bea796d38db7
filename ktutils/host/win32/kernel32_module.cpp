// LoadLibraryA, GetProcAddress and FreeLibrary over the dynamic loader.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <string>
#include <utility>
#include <vector>

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

// The folder of the module that holds this code, and whether that module is
// the program (the library linked statically). Taken from the loader's record
// of the module, or from the kernel for the program (which the loader records
// without a name), never from argv[0] or the working directory, which a
// caller could choose. The folder is empty when the module was loaded by a
// relative name, which says nothing reliable about where it is.
std::pair<std::string, bool> OwnModuleDirectory() {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&PlatformModuleName), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
        map == nullptr)
        return {};
    std::string file;
    const bool program = map->l_name == nullptr || map->l_name[0] == '\0';
    if (!program) {
        file = map->l_name;
    } else {
        char path[PATH_MAX + 1] = {};
        const ssize_t length = ::readlink("/proc/self/exe", path, PATH_MAX);
        if (length > 0) file.assign(path, static_cast<std::size_t>(length));
    }
    if (file[0] != '/') return {std::string(), program};
    const std::size_t slash = file.rfind('/');
    return {slash == 0 ? "/" : file.substr(0, slash), program};
}

// Where a module named without a folder may come from, in order: the folder
// of the module holding this code, and its private folder ktutils/ (where
// the build tree and an installation keep the library's own modules); for a
// program with the library linked in, also the installed layout's private
// folder relative to the program, and the one the build was configured to
// install into. Nothing else: the loader's own search would also take run
// path entries and LD_LIBRARY_PATH, where an empty entry is the working
// directory.
std::vector<std::string> ModuleFolders() {
    const auto [own, program] = OwnModuleDirectory();
    std::vector<std::string> folders;
    if (!own.empty()) folders = {own, own + "/ktutils"};
    if (program && !own.empty()) folders.push_back(own + "/" KTUTILS_PROGRAM_TO_PRIVATE_LIBDIR);
    if (program) folders.push_back(KTUTILS_INSTALLED_PRIVATE_LIBDIR);
    return folders;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HMODULE Load(const std::string& path) { return static_cast<HMODULE>(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)); }

}  // namespace

// Only absolute paths reach dlopen, so the loader never searches for the file.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') return nullptr;
    const std::string name = PlatformModuleName(lpLibFileName);
    if (HasDirectory(name)) return name.front() == '/' ? Load(name) : nullptr;
    for (const std::string& folder : ModuleFolders()) {
        // The first file found is taken even when it fails to load, as
        // Windows stops at the first file it finds.
        if (folder[0] == '/' && IsRegularFile(folder + "/" + name)) return Load(folder + "/" + name);
    }
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr) return FALSE;
    return dlclose(hLibModule) == 0 ? TRUE : FALSE;
}
