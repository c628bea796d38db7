// ktutils marker write|read|check FILE...: the ".crc" marker files that keep
// a file's checksum beside it.
#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <algorithm>
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
#include "tools/files/folder_walk.h"
#include "tools/cli/standard_output.h"
#include "tools/text/json_line.h"
#include "tools/text/quoted_name.h"
#include "tools/files/stored_marker.h"

namespace ktutils::tool {
namespace {

using Json = nlohmann::ordered_json;

struct MarkerOptions {
    std::vector<std::string> files;
    int64_t info = 0;
    bool recursive = false;
    bool json = false;
};

// One command's run over its files: each file's answer, as a line or a JSON
// object, and the worst status.
class MarkerRun {
public:
    MarkerRun(const MarkerOptions& options, const char* command) : options_(options), command_(command) {}

    // The operands as files: markers themselves are left out (never a
    // marker of a marker), a folder is walked with -r and else reported and
    // skipped (1), so that `marker write *` does what its user means.
    std::vector<std::string> Files() {
        std::vector<std::string> files;
        const auto add = [&files](const std::string& path) {
            if (!IsMarkerName(path)) files.push_back(path);
        };
        for (const std::string& path : options_.files) {
            struct stat status {};
            if (IsMarkerName(path) || stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
                add(path);
            } else if (options_.recursive) {
                WalkFolder(path, add, [this](const std::string& where, int error) {
                    Fail(where, std::strerror(error));
                });
            } else {
                Diagnose("ktutils marker %s: %s: is a folder, skipped (-r walks folders)\n", command_,
                         QuoteFileName(path).c_str());
                Worsen(kExitNegative);
            }
        }
        return files;
    }

    // A file's answer: `text` after "FILE: ", or the JSON object of `fields`.
    void Answer(const std::string& path, const std::string& text, Json fields, bool negative) {
        if (options_.json) {
            Json object{{"path", path}};
            object.update(fields);
            std::fputs(JsonLine(object).c_str(), stdout);
        } else {
            std::printf("%s: %s\n", QuoteName(path).c_str(), text.c_str());
        }
        if (negative) Worsen(kExitNegative);
    }

    // A file that could not be answered for: `what` (the file or its
    // marker, quoted) and why, exit 3.
    void Fail(const std::string& path, const std::string& reason, const std::string& what = {}) {
        Diagnose("ktutils marker %s: %s: %s\n", command_,
                 (what.empty() ? QuoteFileName(path) : what).c_str(), reason.c_str());
        if (options_.json) std::fputs(JsonLine({{"path", path}, {"error", reason}}).c_str(), stdout);
        Worsen(kExitSystem);
    }

    // A marker belongs beside a regular file: the library reads none beside
    // anything else, and a FIFO or device has no contents to vouch for.
    bool IsRegularFile(const std::string& path) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) {
            Fail(path, std::strerror(errno));
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            Fail(path, "not a regular file");
            return false;
        }
        return true;
    }

    // The file's checksum from its contents, or a failure naming it.
    bool Checksum(const std::string& path, unsigned int& checksum) {
        if (!IsRegularFile(path)) return false;
        const FileChecksum result = ChecksumFile(path, QuoteFileName(path));
        if (!result.ok) {
            Fail(path, std::strerror(result.error));
            return false;
        }
        checksum = result.checksum;
        return true;
    }

    // The marker beside `path`, unless it is there but cannot be read.
    bool Stored(const std::string& path, StoredMarker& marker) {
        marker = ReadStoredMarker(path);
        if (marker.state != StoredMarker::State::Unreadable) return true;
        Fail(path, std::strerror(marker.error), MarkerName(path));
        return false;
    }

    static std::string MarkerName(const std::string& path) { return QuoteFileName(path + ".crc"); }

    int Status() const { return status_; }

private:
    static bool IsMarkerName(const std::string& path) {
        return path.size() > 4 && path.compare(path.size() - 4, 4, ".crc") == 0;
    }

    void Worsen(int status) { status_ = std::max(status_, status); }

    const MarkerOptions& options_;
    const char* command_;
    int status_ = kExitOk;
};

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
    MarkerRun run(options, "write");
    for (const std::string& path : run.Files()) {
        unsigned int checksum = 0;
        if (!run.Checksum(path, checksum)) continue;
        const int info = static_cast<int>(options.info);
        const int written = withInfo ? WriteFileInfo(path.c_str(), checksum, info)
                                     : CreateFileCRCMarker(path.c_str(), checksum);
        // The library says only that the marker did not open for writing.
        if (written != 1) {
            run.Fail(path, "cannot be opened for writing", MarkerRun::MarkerName(path));
            continue;
        }
        // It answers 1 once the marker opened, even when a write then failed
        // (an I/O error, a file size limit): only reading back every byte it
        // was to write shows the marker there, since the old one left in its
        // place may hold the same checksum.
        const StoredMarker stored = ReadStoredMarker(path);
        if (stored.state != StoredMarker::State::Present || stored.bytes != MarkerBytes(checksum, withInfo, info)) {
            run.Fail(path,
                     std::string("not stored (reading it back ") +
                         (stored.state != StoredMarker::State::Present ? "finds no marker"
                          : stored.checksum != checksum                ? "gives another checksum"
                                                                       : "gives other bytes") + ")",
                     MarkerRun::MarkerName(path));
            continue;
        }
        Json fields{{"state", "written"}, {"checksum", ChecksumText(checksum)}};
        if (withInfo) fields["info"] = info;
        run.Answer(path, "marker written, " + ChecksumText(checksum) + (withInfo ? ", info " + std::to_string(info) : ""),
                   fields, false);
    }
    return run.Status();
}

int ReadMarkers(const MarkerOptions& options) {
    MarkerRun run(options, "read");
    for (const std::string& path : run.Files()) {
        StoredMarker marker;
        if (!run.IsRegularFile(path) || !run.Stored(path, marker)) continue;
        if (marker.state == StoredMarker::State::Present) {
            run.Answer(path, ChecksumText(marker.checksum), {{"state", "present"}, {"checksum", ChecksumText(marker.checksum)}}, false);
        } else if (marker.state == StoredMarker::State::Absent) {
            run.Answer(path, "no marker", {{"state", "absent"}}, true);
        } else {
            run.Answer(path, MalformedText(marker), {{"state", "malformed"}, {"size", marker.size}}, true);
        }
    }
    return run.Status();
}

int CheckMarkers(const MarkerOptions& options) {
    MarkerRun run(options, "check");
    for (const std::string& path : run.Files()) {
        unsigned int contents = 0;
        StoredMarker marker;
        if (!run.Checksum(path, contents) || !run.Stored(path, marker)) continue;
        if (marker.state == StoredMarker::State::Absent) {
            run.Answer(path, "MISSING (no marker)", {{"state", "MISSING"}}, true);
        } else if (marker.state == StoredMarker::State::Malformed) {
            run.Answer(path, MalformedText(marker), {{"state", "MALFORMED"}, {"size", marker.size}}, true);
        } else if (marker.checksum != contents) {
            run.Answer(path, "STALE (marker " + ChecksumText(marker.checksum) + ", contents " + ChecksumText(contents) + ")",
                       {{"state", "STALE"}, {"marker", ChecksumText(marker.checksum)}, {"contents", ChecksumText(contents)}}, true);
        } else {
            run.Answer(path, "OK", {{"state", "OK"}, {"checksum", ChecksumText(contents)}}, false);
        }
    }
    return run.Status();
}

// FILE..., -r and --json, as every marker command takes them.
void AddFileOptions(CLI::App& command, MarkerOptions& options) {
    command.add_option("FILE", options.files, "regular files; FILE.crc operands are left out")
        ->required()
        ->option_text("FILE...");
    command.add_flag("-r,--recursive", options.recursive,
                     "walk each folder named for the regular files below it");
    command.add_flag("--json", options.json, "one JSON object per file");
}

constexpr const char* kCannotRead =
    "a file or its marker could not be read, or the output could not be written";

}  // namespace

Command AddMarkerCommand(CLI::App& tool) {
    auto options = std::make_shared<MarkerOptions>();
    CLI::App* marker =
        tool.add_subcommand("marker", "Write, read or check the .crc marker files beside files");
    marker->require_subcommand(1);
    marker->footer(ExitStatusHelp("every file's marker was written, is there, or matches",
                                  "a marker is missing, stale or malformed, or a folder was named\n"
                                  "     without -r",
                                  kCannotRead));

    CLI::App* write = marker->add_subcommand(
        "write", "Store each file's checksum in FILE.crc (replacing any marker there)");
    AddFileOptions(*write, *options);
    CLI::Option* info = AddNumberOption(*write, "--info", options->info, INT32_MIN, INT32_MAX,
                                        "write the 8-byte form: the checksum, then N (signed 32-bit)");
    AddProgressOptions(*write);
    write->footer(ExitStatusHelp("every marker was written", "a folder was named without -r",
                                 "a file could not be read, or its marker not written"));

    CLI::App* read = marker->add_subcommand(
        "read", "Print the checksum in each FILE.crc, or \"no marker\"");
    AddFileOptions(*read, *options);
    read->footer(ExitStatusHelp("every file has a marker",
                                "a file has no marker or a malformed one, or a folder was named\n"
                                "     without -r",
                                kCannotRead));

    CLI::App* check = marker->add_subcommand(
        "check", "Compare each marker with its file: OK, STALE, MISSING or MALFORMED");
    AddFileOptions(*check, *options);
    AddProgressOptions(*check);
    check->footer(ExitStatusHelp("every marker matches its file",
                                 "a marker is stale, missing or malformed, or a folder was named\n"
                                 "     without -r",
                                 kCannotRead));

    auto run = [options, write, read, check, info]() -> int {
        if (write->parsed()) return WriteMarkers(*options, info->count() != 0);
        if (read->parsed()) return ReadMarkers(*options);
        if (check->parsed()) return CheckMarkers(*options);
        return kExitUsage;
    };
    return {marker, run};
}

}  // namespace ktutils::tool
