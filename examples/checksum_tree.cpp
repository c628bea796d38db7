// Checksums every file of a folder tree and keeps each checksum beside its file in a ".crc" marker, or
// checks the files against their markers later.
//
//   checksum_tree mark FOLDER    writes FILE.crc for every regular file below FOLDER
//   checksum_tree check FOLDER   OK, STALE (changed since it was marked) or MISSING (no marker) for each;
//                                exit status 1 unless every file is OK
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <ktutils/ktutils.h>

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "mark" && mode != "check") {
        std::fprintf(stderr, "usage: checksum_tree mark|check FOLDER\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    int failures = 0;
    for (fs::recursive_directory_iterator it(argv[2], error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error) || it->path().extension() == ".crc") continue;
        const std::string path = it->path().string();
        const unsigned int contents = ComputeCRC(path.c_str());  // 0: the file cannot be read
        if (mode == "mark") {
            const bool marked = contents != 0 && CreateFileCRCMarker(path.c_str(), contents) == 1;
            std::printf("%s: %s %08x\n", path.c_str(), marked ? "marked" : "NOT marked", contents);
            failures += marked ? 0 : 1;
            continue;
        }
        const unsigned int marker = GetFileCRC2(path.c_str());  // 0: no marker
        const char* verdict = marker == 0 ? "MISSING" : marker == contents ? "OK" : "STALE";
        std::printf("%s: %s\n", path.c_str(), verdict);
        failures += marker != 0 && marker == contents ? 0 : 1;
    }
    if (error) {
        std::fprintf(stderr, "checksum_tree: %s: %s\n", argv[2], error.message().c_str());
        return 3;
    }
    return failures == 0 ? 0 : 1;
}
