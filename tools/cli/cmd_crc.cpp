// ktutils crc [FILE]... | crc --check [LIST]...: Adler-32 checksums of files
// in GNU sha256sum's layouts, and the check of such lists, with sha256sum's
// options, messages and exit statuses.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tools/files/bounded_line.h"
#include "tools/files/checksum_line.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/files/file_checksum.h"
#include "tools/files/progress_bar.h"
#include "tools/cli/standard_output.h"
#include "tools/text/json_line.h"
#include "tools/text/quoted_name.h"

namespace ktutils::tool {
namespace {

// Far above any real line (a path is at most 4096 bytes, twice that escaped),
// and small enough that a list which is not one costs no memory.
constexpr std::size_t kMaxListLine = 64 * 1024;

// What --check prints; the last of --quiet, --status and --warn given wins,
// as in sha256sum.
enum class Report { Normal, Quiet, Status, Warn };

struct CrcOptions {
    std::vector<std::string> files;
    LineLayout layout;
    Report report = Report::Normal;
    bool strict = false;
    bool ignoreMissing = false;
    bool json = false;
};

std::string Shown(const std::string& path) {
    return QuoteFileName(path == "-" ? "standard input" : path);
}

// "-" is standard input, as for every tool of this kind.
FileChecksum Checksum(const std::string& path) {
    return path == "-" ? ChecksumStandardInput(Shown(path)) : ChecksumFile(path, Shown(path));
}

void Warn(const std::string& text) { Diagnose("ktutils crc: %s\n", text.c_str()); }

// One object per file: its checksum, or why there is none.
void PrintJson(const std::string& path, const FileChecksum& result) {
    nlohmann::ordered_json object{{"path", path}};
    if (result.ok) {
        object["checksum"] = ChecksumText(result.checksum);
    } else {
        object["error"] = std::strerror(result.error);
    }
    std::fputs(JsonLine(object).c_str(), stdout);
}

int PrintChecksums(const CrcOptions& options) {
    const char terminator = options.layout.escape ? '\n' : '\0';
    int status = kExitOk;
    for (const std::string& path : options.files) {
        const FileChecksum result = Checksum(path);
        if (!result.ok) {
            Warn(Shown(path) + ": " + std::strerror(result.error));
            status = kExitSystem;
        }
        if (options.json) {
            PrintJson(path, result);
            continue;
        }
        if (!result.ok) continue;
        std::string line = FormatChecksumLine(result.checksum, path, options.layout);
        line += terminator;
        std::fwrite(line.data(), 1, line.size(), stdout);
        // Line buffering goes by newlines: a NUL-ended line goes out whole at once.
        if (terminator == '\0') std::fflush(stdout);
    }
    return status;
}

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
    if (count != 0) Warn("WARNING: " + std::to_string(count) + " " + (count == 1 ? one : many));
}

// The results of one list. The plain form is remembered across lists, as
// sha256sum does.
class ListCheck {
public:
    ListCheck(const CrcOptions& options, PlainForm& plainForm)
        : options_(options), plainForm_(plainForm) {}

    int Run(const std::string& listPath) {
        isStdin_ = listPath == "-";
        listName_ = Shown(listPath);
        ListFile list;
        if (isStdin_) {
            list.file = stdin;
        } else {
            list.file = std::fopen(listPath.c_str(), "r");
            list.owned = true;
            if (list.file == nullptr) {
                Warn(listName_ + ": " + std::strerror(errno));
                return kExitSystem;
            }
        }
        std::string line;
        unsigned long lineNumber = 0;
        LineRead read;
        errno = 0;
        while ((read = ReadBoundedLine(list.file, line, kMaxListLine)) != LineRead::End) {
            ++lineNumber;
            if (read == LineRead::TooLong) {
                Malformed(lineNumber);
                continue;
            }
            if (!line.empty() && line[0] == '#') continue;
            if (!line.empty() && line.back() == '\r') line.pop_back();  // a list made on Windows
            if (line.empty()) continue;
            CheckLine(line, lineNumber);
        }
        if (std::ferror(list.file)) {
            Warn(listName_ + ": " + std::strerror(errno != 0 ? errno : EIO));
            std::clearerr(list.file);
            return kExitSystem;
        }
        std::clearerr(list.file);  // standard input may be named again
        return Conclude();
    }

private:
    void Malformed(unsigned long lineNumber) {
        ++malformed_;
        if (options_.report == Report::Warn) {
            Warn(listName_ + ": " + std::to_string(lineNumber) +
                 ": improperly formatted ADLER32 checksum line");
        }
    }

    void CheckLine(const std::string& line, unsigned long lineNumber) {
        const std::optional<ChecksumLine> entry = ParseChecksumLine(line, plainForm_);
        // Standard input cannot be both the list and a file in it.
        if (!entry || (isStdin_ && entry->name == "-")) {
            Malformed(lineNumber);
            return;
        }
        formatted_ = true;
        const FileChecksum result = Checksum(entry->name);
        const bool quietResults = options_.report == Report::Status;
        const char* verdict = nullptr;
        if (!result.ok) {
            if (options_.ignoreMissing && result.error == ENOENT) return;
            Warn(Shown(entry->name) + ": " + std::strerror(result.error));
            ++unreadable_;
            verdict = "FAILED open or read";
        } else if (result.checksum != entry->checksum) {
            ++mismatched_;
            verdict = "FAILED";
        } else {
            matched_ = true;
            if (options_.report != Report::Quiet) verdict = "OK";
        }
        if (verdict == nullptr || quietResults) return;
        if (options_.json) {
            std::fputs(JsonLine({{"path", entry->name}, {"result", verdict}}).c_str(), stdout);
        } else {
            std::printf("%s: %s\n", ResultName(entry->name).c_str(), verdict);
        }
    }

    int Conclude() const {
        if (!formatted_) {
            Warn(listName_ + ": no properly formatted checksum lines found");
            return kExitNegative;
        }
        if (options_.report != Report::Status) {
            Summarise(malformed_, "line is improperly formatted", "lines are improperly formatted");
            Summarise(unreadable_, "listed file could not be read",
                      "listed files could not be read");
            Summarise(mismatched_, "computed checksum did NOT match",
                      "computed checksums did NOT match");
            if (options_.ignoreMissing && !matched_) Warn(listName_ + ": no file was verified");
        }
        const bool passed = matched_ && mismatched_ == 0 && unreadable_ == 0 &&
                            (!options_.strict || malformed_ == 0);
        return passed ? kExitOk : kExitNegative;
    }

    const CrcOptions& options_;
    PlainForm& plainForm_;
    bool isStdin_ = false;
    std::string listName_;
    bool formatted_ = false;  // a line in the list was a checksum line
    bool matched_ = false;    // and some file matched its checksum
    unsigned long malformed_ = 0, unreadable_ = 0, mismatched_ = 0;
};

int CheckLists(const CrcOptions& options) {
    PlainForm plainForm = PlainForm::Unknown;
    int status = kExitOk;
    for (const std::string& list : options.files) {
        status = std::max(status, ListCheck(options, plainForm).Run(list));
    }
    return status;
}

// Whichever of `names` came last on the command line, or nullptr.
const CLI::Option* LastGiven(const CLI::App& app, std::initializer_list<const CLI::Option*> names) {
    const CLI::Option* last = nullptr;
    for (const CLI::Option* given : app.parse_order()) {
        for (const CLI::Option* name : names) {
            if (given == name) last = given;
        }
    }
    return last;
}

}  // namespace

Command AddCrcCommand(CLI::App& tool) {
    auto options = std::make_shared<CrcOptions>();
    CLI::App* crc = tool.add_subcommand(
        "crc", "Print or check Adler-32 checksums of files, as sha256sum does SHA-256");
    crc->footer(std::string(
        "Without FILE, or when FILE is -, read standard input. Lines are 8 lowercase hex\n"
        "digits, two spaces and the name; with --check, each listed file prints NAME: OK,\n"
        "NAME: FAILED or NAME: FAILED open or read.\n\n") +
        ExitStatusHelp("every file was read (--check: and every listed file matched)",
                       "--check: a listed file failed or could not be read, or no line was\n"
                       "     a checksum line",
                       "a FILE or LIST could not be read, or the output could not be written"));
    crc->add_option("FILE", options->files, "files to checksum, or lists with --check")
        ->option_text("FILE...");
    CLI::Option* check = crc->add_flag("-c,--check", "read checksums from the FILEs and check them");
    CLI::Option* tag = crc->add_flag("--tag", "create a BSD-style checksum line: ADLER32 (NAME) = X");
    CLI::Option* zero =
        crc->add_flag("-z,--zero", "end each output line with NUL, not newline, and do not\n"
                                   "escape file names");
    CLI::Option* binary = crc->add_flag("-b,--binary", "mark files as read in binary mode (*)");
    CLI::Option* text = crc->add_flag("-t,--text", "mark files as read in text mode (default)");
    CLI::Option* ignoreMissing = crc->add_flag(
        "--ignore-missing", options->ignoreMissing, "don't fail or report status for missing files");
    CLI::Option* quiet = crc->add_flag("--quiet", "don't print OK for each successfully verified file");
    CLI::Option* status = crc->add_flag("--status", "don't output anything, status code shows success");
    CLI::Option* strict =
        crc->add_flag("--strict", options->strict, "exit non-zero for improperly formatted lines");
    CLI::Option* warn = crc->add_flag("-w,--warn", "warn about improperly formatted checksum lines");
    crc->add_flag("--json", options->json,
                  "one JSON object per file: path and checksum (--check: result),\nor the error");
    AddProgressOptions(*crc);

    auto run = [options, crc, check, tag, zero, binary, text, ignoreMissing, quiet, status, strict,
                warn]() -> int {
        const bool checking = check->count() != 0;
        const CLI::Option* mode = LastGiven(*crc, {binary, text});
        options->layout.binaryMark = mode == binary;
        options->layout.tagged = tag->count() != 0;
        options->layout.escape = zero->count() == 0;
        const CLI::Option* report = LastGiven(*crc, {quiet, status, warn});
        options->report = report == quiet    ? Report::Quiet
                          : report == status ? Report::Status
                          : report == warn   ? Report::Warn
                                             : Report::Normal;
        if (options->files.empty()) options->files.push_back("-");

        for (const CLI::Option* layout : {tag, zero}) {
            if (options->json && layout->count() != 0) {
                return ReportUsageError(*crc, "--json and " + layout->get_name() + " exclude each other");
            }
        }
        // sha256sum's refusals, in its words.
        if (options->layout.tagged && mode == text) {
            return ReportUsageError(*crc, "--tag does not support --text mode");
        }
        if (!checking) {
            for (const CLI::Option* only : {ignoreMissing, quiet, status, strict, warn}) {
                if (only->count() != 0) {
                    return ReportUsageError(*crc, "the " + only->get_name() +
                                                      " option is meaningful only when verifying "
                                                      "checksums");
                }
            }
            return PrintChecksums(*options);
        }
        if (options->layout.tagged) {
            return ReportUsageError(*crc, "the --tag option is meaningless when verifying checksums");
        }
        if (!options->layout.escape) {
            return ReportUsageError(*crc,
                                    "the --zero option is not supported when verifying checksums");
        }
        if (mode != nullptr) {
            return ReportUsageError(
                *crc, "the --binary and --text options are meaningless when verifying checksums");
        }
        return CheckLists(*options);
    };
    return {crc, run};
}

}  // namespace ktutils::tool
