#include "tools/trust/trust_roots.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ktutils::tool {
namespace {

// Far above any file of roots (the whole system store is some 200 KiB).
constexpr std::streamsize kLargestRoots = 64 << 20;

// A DER certificate is one SEQUENCE whose length, in the long form, covers
// the file exactly.
bool IsDerCertificate(const std::string& bytes) {
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0x30) return false;
    const auto form = static_cast<unsigned char>(bytes[1]);
    const std::size_t count = form & 0x7Fu;
    if (form < 0x81 || count > 3 || bytes.size() < 2 + count) return false;
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(bytes[2 + i]);
    return 2 + count + length == bytes.size();
}

// 1: it holds one; 0: it holds none; -1: it cannot be read (errno).
int FileHoldsCertificate(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return -1;
    std::string bytes;
    bytes.assign(std::istreambuf_iterator<char>(file.rdbuf()), std::istreambuf_iterator<char>());
    if (file.bad()) return -1;
    // OpenSSL's names for a certificate block: plain, trusted, and the old X509.
    for (const char* begin : {"-----BEGIN CERTIFICATE-----", "-----BEGIN TRUSTED CERTIFICATE-----",
                              "-----BEGIN X509 CERTIFICATE-----"}) {
        if (bytes.find(begin) != std::string::npos) return 1;
    }
    return IsDerCertificate(bytes) ? 1 : 0;
}

}  // namespace

bool HoldsCertificate(const std::string& roots, std::string& why) {
    struct stat status {};
    if (stat(roots.c_str(), &status) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        errno = 0;
        const int holds = status.st_size > kLargestRoots ? 0 : FileHoldsCertificate(roots);
        if (holds == 1) return true;
        why = holds < 0 ? std::strerror(errno != 0 ? errno : EIO) : "no certificate in it";
        return false;
    }
    DIR* folder = opendir(roots.c_str());
    if (folder == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    bool holds = false;
    while (const dirent* entry = readdir(folder)) {
        const std::string path = roots + "/" + entry->d_name;
        struct stat file {};
        if (!holds && stat(path.c_str(), &file) == 0 && S_ISREG(file.st_mode) && file.st_size <= kLargestRoots) {
            holds = FileHoldsCertificate(path) == 1;
        }
    }
    closedir(folder);
    if (!holds) why = "no certificate in it";
    return holds;
}

}  // namespace ktutils::tool
