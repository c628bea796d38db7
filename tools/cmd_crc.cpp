// ktutils crc FILE... | crc --check LIST: Adler-32 checksums of files in
// sha256sum's layout, and the check of such a list.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/checksum_line.h"
#include "tools/commands.h"
#include "tools/exit_status.h"
#include "tools/file_checksum.h"

namespace ktutils::tool {
namespace {

struct CrcOptions {
    std::vector<std::string> files;
    std::string list;
};

const char* ShownName(const std::string& path) {
    return path == "-" ? "standard input" : path.c_str();
}

// "-" is standard input, as for every tool of this kind.
FileChecksum Checksum(const std::string& path) {
    return path == "-" ? ChecksumStandardInput(ShownName(path)) : ChecksumFile(path, path);
}

int PrintChecksums(const std::vector<std::string>& files) {
    int status = kExitOk;
    for (const std::string& path : files) {
        const FileChecksum result = Checksum(path);
        if (!result.ok) {
            std::fprintf(stderr, "ktutils crc: %s: %s\n", ShownName(path),
                         std::strerror(result.error));
            status = kExitSystem;
            continue;
        }
        std::printf("%s\n", FormatChecksumLine(result.checksum, path).c_str());
    }
    return status;
}

struct LineDeleter {
    void operator()(char* line) const { std::free(line); }
};

struct ListFile {
    std::FILE* file = nullptr;
    bool owned = false;
    ~ListFile() {
        if (owned && file != nullptr) std::fclose(file);
    }
};

// One warning per kind of trouble at the end, as sha256sum -c gives them, so
// a long list's result is not lost above the screen.
void Summarise(unsigned long count, const char* one, const char* many) {
    if (count == 0) return;
    std::fprintf(stderr, "ktutils crc: WARNING: %lu %s\n", count, count == 1 ? one : many);
}

int CheckList(const std::string& listPath) {
    const char* listName = ShownName(listPath);
    ListFile list;
    if (listPath == "-") {
        list.file = stdin;
    } else {
        list.file = std::fopen(listPath.c_str(), "r");
        list.owned = true;
        if (list.file == nullptr) {
            std::fprintf(stderr, "ktutils crc: %s: %s\n", listName, std::strerror(errno));
            return kExitSystem;
        }
    }

    unsigned long lineNumber = 0, checked = 0, mismatched = 0, unreadable = 0, malformed = 0;
    char* raw = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    // getline, not a fixed buffer: a name may be as long as a path can be.
    while ((length = getline(&raw, &capacity, list.file)) >= 0) {
        const std::unique_ptr<char, LineDeleter> owner(raw);
        raw = nullptr;
        capacity = 0;
        ++lineNumber;
        std::string line(owner.get(), static_cast<std::size_t>(length));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a list made on Windows
        if (line.empty() || line[0] == '#') continue;

        const std::optional<ChecksumLine> entry = ParseChecksumLine(line);
        if (!entry) {
            std::fprintf(stderr,
                         "ktutils crc: %s: line %lu: not a checksum line "
                         "(8 hex digits, two spaces, a name)\n",
                         listName, lineNumber);
            ++malformed;
            continue;
        }
        ++checked;
        const FileChecksum result = Checksum(entry->name);
        const std::string shown = QuoteName(entry->name);
        if (!result.ok) {
            std::fprintf(stderr, "ktutils crc: %s: %s\n", ShownName(entry->name),
                         std::strerror(result.error));
            std::printf("%s: FAILED open or read\n", shown.c_str());
            ++unreadable;
        } else if (result.checksum != entry->checksum) {
            std::printf("%s: FAILED\n", shown.c_str());
            ++mismatched;
        } else {
            std::printf("%s: OK\n", shown.c_str());
        }
        std::fflush(stdout);  // keep the results in step with the warnings
    }
    std::free(raw);
    if (std::ferror(list.file)) {
        std::fprintf(stderr, "ktutils crc: %s: %s\n", listName, std::strerror(errno));
        return kExitSystem;
    }
    Summarise(malformed, "line is improperly formatted", "lines are improperly formatted");
    Summarise(unreadable, "listed file could not be read", "listed files could not be read");
    Summarise(mismatched, "computed checksum did NOT match", "computed checksums did NOT match");
    if (checked == 0) {
        std::fprintf(stderr, "ktutils crc: %s: no checksum lines found\n", listName);
        return kExitNegative;
    }
    return malformed + unreadable + mismatched == 0 ? kExitOk : kExitNegative;
}

}  // namespace

Command AddCrcCommand(CLI::App& tool) {
    auto options = std::make_shared<CrcOptions>();
    CLI::App* crc = tool.add_subcommand(
        "crc", "Print Adler-32 checksums of files like sha256sum, or check a list of them");
    crc->footer(std::string(
        "Each line is 8 lowercase hex digits, two spaces and the name; - (or no FILE) reads\n"
        "standard input. With --check, each listed file prints NAME: OK, NAME: FAILED or\n"
        "NAME: FAILED open or read; exit 1 if any failed or a line is malformed.\n\n") +
        kExitStatusHelp);
    CLI::Option* files =
        crc->add_option("FILE", options->files, "files to checksum; - for standard input");
    crc->add_option("-c,--check", options->list,
                    "verify the checksum lines in LIST (- for standard input)")
        ->option_text("LIST")
        ->excludes(files);
    auto run = [options, crc]() -> int {
        if (crc->count("--check") != 0) return CheckList(options->list);
        if (options->files.empty()) return PrintChecksums({"-"});
        return PrintChecksums(options->files);
    };
    return {crc, run};
}

}  // namespace ktutils::tool
