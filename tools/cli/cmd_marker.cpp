// ktutils marker write|read|check FILE...: the ".crc" marker files that keep
// a file's checksum beside it.
#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ktutils/ktutils.h"
#include "tools/files/checksum_line.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/files/file_checksum.h"
#include "tools/text/quoted_name.h"
#include "tools/files/stored_marker.h"

namespace ktutils::tool {
namespace {

struct MarkerOptions {
    std::vector<std::string> files;
    int64_t info = 0;
};

// A marker belongs beside a regular file: the library reads none beside
// anything else, and a FIFO or device has no contents to vouch for.
bool IsRegularFile(const char* command, const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        std::fprintf(stderr, "ktutils marker %s: %s: %s\n", command, QuoteFileName(path).c_str(),
                     std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "ktutils marker %s: %s: not a regular file\n", command,
                     QuoteFileName(path).c_str());
        return false;
    }
    return true;
}

// The file's checksum from its contents, or an error naming it.
bool ChecksumOrReport(const char* command, const std::string& path, unsigned int& checksum) {
    if (!IsRegularFile(command, path)) return false;
    const FileChecksum result = ChecksumFile(path, QuoteFileName(path));
    if (!result.ok) {
        std::fprintf(stderr, "ktutils marker %s: %s: %s\n", command, QuoteFileName(path).c_str(),
                     std::strerror(result.error));
        return false;
    }
    checksum = result.checksum;
    return true;
}

std::string MarkerName(const std::string& path) { return QuoteFileName(path + ".crc"); }

// A marker that is there but cannot be read: its reason, exit 3.
bool ReportUnreadable(const char* command, const std::string& path, const StoredMarker& marker) {
    if (marker.state != StoredMarker::State::Unreadable) return false;
    std::fprintf(stderr, "ktutils marker %s: %s: %s\n", command, MarkerName(path).c_str(),
                 std::strerror(marker.error));
    return true;
}

std::string MalformedText(const StoredMarker& marker) {
    return "MALFORMED (marker of " + std::to_string(marker.size) + " bytes, not 4 or 8)";
}

// What the library writes: the checksum, then the info when asked, each
// little-endian.
std::string MarkerBytes(unsigned int checksum, bool withInfo, int info) {
    std::string bytes;
    for (const unsigned int value : {checksum, static_cast<unsigned int>(info)}) {
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(value >> shift & 0xFFu);
        if (!withInfo) break;
    }
    return bytes;
}

int WriteMarkers(const MarkerOptions& options, bool withInfo) {
    int status = kExitOk;
    for (const std::string& path : options.files) {
        unsigned int checksum = 0;
        if (!ChecksumOrReport("write", path, checksum)) {
            status = kExitSystem;
            continue;
        }
        const int info = static_cast<int>(options.info);
        const int written = withInfo ? WriteFileInfo(path.c_str(), checksum, info)
                                     : CreateFileCRCMarker(path.c_str(), checksum);
        // The library says only that the marker did not open for writing.
        if (written != 1) {
            std::fprintf(stderr, "ktutils marker write: %s: cannot be opened for writing\n",
                         MarkerName(path).c_str());
            status = kExitSystem;
            continue;
        }
        // It answers 1 once the marker opened, even when a write then failed
        // (an I/O error, a file size limit): only reading back every byte it
        // was to write shows the marker there, since the old one left in its
        // place may hold the same checksum.
        const StoredMarker stored = ReadStoredMarker(path);
        if (stored.state != StoredMarker::State::Present || stored.bytes != MarkerBytes(checksum, withInfo, info)) {
            std::fprintf(stderr, "ktutils marker write: %s: not stored (reading it back %s)\n",
                         MarkerName(path).c_str(),
                         stored.state != StoredMarker::State::Present ? "finds no marker"
                         : stored.checksum != checksum                ? "gives another checksum"
                                                                      : "gives other bytes");
            status = kExitSystem;
            continue;
        }
        if (withInfo) {
            std::printf("%s: marker written, %08x, info %d\n", QuoteName(path).c_str(), checksum,
                        info);
        } else {
            std::printf("%s: marker written, %08x\n", QuoteName(path).c_str(), checksum);
        }
    }
    return status;
}

int ReadMarkers(const MarkerOptions& options) {
    int status = kExitOk;
    for (const std::string& path : options.files) {
        if (!IsRegularFile("read", path)) {
            status = kExitSystem;
            continue;
        }
        const StoredMarker marker = ReadStoredMarker(path);
        if (ReportUnreadable("read", path, marker)) {
            status = kExitSystem;
            continue;
        }
        if (marker.state == StoredMarker::State::Present) {
            std::printf("%s: %08x\n", QuoteName(path).c_str(), marker.checksum);
            continue;
        }
        std::printf("%s: %s\n", QuoteName(path).c_str(),
                    marker.state == StoredMarker::State::Absent ? "no marker"
                                                                : MalformedText(marker).c_str());
        if (status == kExitOk) status = kExitNegative;
    }
    return status;
}

int CheckMarkers(const MarkerOptions& options) {
    int status = kExitOk;
    for (const std::string& path : options.files) {
        unsigned int contents = 0;
        if (!ChecksumOrReport("check", path, contents)) {
            status = kExitSystem;
            continue;
        }
        const StoredMarker marker = ReadStoredMarker(path);
        if (ReportUnreadable("check", path, marker)) {
            status = kExitSystem;
            continue;
        }
        const std::string shown = QuoteName(path);
        if (marker.state == StoredMarker::State::Absent) {
            std::printf("%s: MISSING (no marker)\n", shown.c_str());
        } else if (marker.state == StoredMarker::State::Malformed) {
            std::printf("%s: %s\n", shown.c_str(), MalformedText(marker).c_str());
        } else if (marker.checksum != contents) {
            std::printf("%s: STALE (marker %08x, contents %08x)\n", shown.c_str(), marker.checksum,
                        contents);
        } else {
            std::printf("%s: OK\n", shown.c_str());
            continue;
        }
        if (status == kExitOk) status = kExitNegative;
    }
    return status;
}

}  // namespace

Command AddMarkerCommand(CLI::App& tool) {
    auto options = std::make_shared<MarkerOptions>();
    CLI::App* marker =
        tool.add_subcommand("marker", "Write, read or check the .crc marker files beside files");
    marker->require_subcommand(1);

    CLI::App* write = marker->add_subcommand(
        "write", "Store each file's checksum in FILE.crc (replacing any marker there)");
    write->add_option("FILE", options->files, "regular files")->required();
    CLI::Option* info = write->add_option(
        "--info", options->info, "write the 8-byte form: the checksum, then N (signed 32-bit)");
    info->option_text("N")->check(CLI::Range(int64_t{INT32_MIN}, int64_t{INT32_MAX}));
    AddProgressOptions(*write);

    CLI::App* read = marker->add_subcommand(
        "read", "Print the checksum in each FILE.crc, or \"no marker\" (exit 1 if any has none\n"
        "or is malformed)");
    read->add_option("FILE", options->files, "regular files")->required();

    CLI::App* check = marker->add_subcommand(
        "check", "Compare each marker with its file: OK, STALE, MISSING or MALFORMED (exit 1\n"
        "unless all OK)");
    check->add_option("FILE", options->files, "regular files")->required();
    AddProgressOptions(*check);

    auto run = [options, write, read, check, info]() -> int {
        if (write->parsed()) return WriteMarkers(*options, info->count() != 0);
        if (read->parsed()) return ReadMarkers(*options);
        if (check->parsed()) return CheckMarkers(*options);
        return kExitUsage;
    };
    return {marker, run};
}

}  // namespace ktutils::tool
