#include "tools/trust/provider_status.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/ktutils.h"

namespace ktutils::tool {
namespace {

// The folder of the module that holds VerifyServerComponent, as the loader
// recorded it; the program's own record has no name.
std::string LibraryFolder() {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&VerifyServerComponent), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 || map == nullptr) {
        return {};
    }
    std::string file = map->l_name != nullptr ? map->l_name : "";
    if (file.empty()) {
        char path[PATH_MAX + 1] = {};
        const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
        if (length > 0) file.assign(path, static_cast<std::size_t>(length));
    }
    if (file.empty() || file[0] != '/') return {};
    return file.substr(0, file.rfind('/'));
}

// UTF-8 to UTF-16, as the library hands the path over; anything that is not
// UTF-8 becomes U+FFFD, which names no file.
std::u16string Utf16(const std::string& text) {
    std::u16string wide;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : lead >> 5 == 6 ? 1 : lead >> 4 == 14 ? 2 : lead >> 3 == 30 ? 3 : -1;
        char32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool good = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
        for (int k = 1; good && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            good = next >> 6 == 2;
            code = code << 6 | (next & 0x3F);
        }
        i += good ? static_cast<std::size_t>(extra) + 1 : 1;
        if (!good || code > 0x10FFFF) code = 0xFFFD;
        if (code >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            code = 0xDC00 + ((code - 0x10000) & 0x3FF);
        }
        wide += static_cast<char16_t>(code);
    }
    return wide;
}

}  // namespace

int32_t AskTrustService(const std::string& path, uint32_t uiChoice) {
    const std::string folder = LibraryFolder();
    void* module = nullptr;
    for (const char* place : {"/libwintrust.so", "/ktutils/libwintrust.so"}) {
        struct stat status {};
        const std::string candidate = folder + place;
        // The first file found is the one, as for the library.
        if (!folder.empty() && stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            break;
        }
    }
    using Verify = LONG (*)(HWND, GUID*, LPVOID);
    const auto verify = module != nullptr ? reinterpret_cast<Verify>(dlsym(module, "WinVerifyTrust")) : nullptr;
    if (verify == nullptr) {
        if (module != nullptr) dlclose(module);
        return kTrustServiceMissing;
    }
    const std::u16string wide = Utf16(path);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
    data.dwUIChoice = uiChoice;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = verify(nullptr, &action, &data);
    dlclose(module);
    return status;
}

}  // namespace ktutils::tool
