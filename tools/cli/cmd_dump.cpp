// ktutils dump FILE|-: one line per message of a captured stream, each field
// decoded by the decoder of its type. The stream is read in pieces, so its
// size is not limited by memory; a malformed frame ends the dump with its
// offset.
#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/capture/capture_dump.h"
#include "tools/capture/capture_reader.h"
#include "tools/cli/commands.h"
#include "tools/text/decoded_message.h"
#include "tools/cli/exit_status.h"
#include "tools/text/message_printer.h"
#include "tools/text/quoted_name.h"
#include "tools/cli/standard_output.h"

namespace ktutils::tool {
namespace {

struct DumpOptions {
    std::string path;
    bool json = false;
    CaptureDumpOptions capture;
};

// A live capture comes through a pipe or a socket; each message is then
// shown as it arrives. A file is dumped as fast as buffered output goes.
bool IsLive(std::FILE* input) {
    struct stat status {};
    return fstat(fileno(input), &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || S_ISCHR(status.st_mode));
}

// fread waits for a whole piece; a live capture's messages are decoded as
// they come, so there each piece is what one read(2) gives. 0 at the end or
// on an error, whose errno is left in `error`.
std::size_t ReadPiece(std::FILE* input, bool live, unsigned char* piece, std::size_t size,
                      int& error) {
    errno = 0;
    if (!live) {
        const std::size_t count = std::fread(piece, 1, size, input);
        if (count == 0 && std::ferror(input)) error = errno != 0 ? errno : EIO;
        return count;
    }
    ssize_t count;
    while ((count = read(fileno(input), piece, size)) < 0 && errno == EINTR) {
    }
    if (count >= 0) return static_cast<std::size_t>(count);
    error = errno;
    return 0;
}

// A pcap or pcapng file goes to the capture dump, told by its magic number.
// Only a regular file is looked into: the bytes read from a pipe or a device
// to tell would be gone for the stream dump.
bool IsCapture(const std::string& path) {
    struct stat status {};
    if (path == "-" || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    unsigned char magic[4] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const std::size_t count = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    return IsCaptureFile(magic, count);
}

struct InputFile {
    std::FILE* file = nullptr;
    bool owned = false;
    ~InputFile() {
        if (owned && file != nullptr) std::fclose(file);
    }
};

int Dump(DumpOptions& options) {
    if (IsCapture(options.path)) {
        options.capture.path = options.path;
        options.capture.json = options.json;
        return DumpCapture(options.capture);
    }
    const bool standardInput = options.path == "-";
    const std::string quoted = QuoteFileName(standardInput ? "standard input" : options.path);
    const char* name = quoted.c_str();
    InputFile input;
    if (standardInput) {
        input.file = stdin;
    } else {
        input.file = std::fopen(options.path.c_str(), "rb");
        input.owned = true;
        if (input.file == nullptr) {
            std::fprintf(stderr, "ktutils dump: %s: %s\n", name, std::strerror(errno));
            return kExitSystem;
        }
    }

    const bool live = IsLive(input.file);
    MessagePrinter printer(stdout,
                           options.json ? MessagePrinter::Style::Json : MessagePrinter::Style::Text,
                           StandardOutputIsTerminal() || live);
    NQMessageBuffer stream;
    uint64_t received = 0;
    int status = kExitOk;
    int readError = 0;
    unsigned char chunk[64 * 1024];
    try {
        for (;;) {
            // Output that cannot be written ends the dump: main reports it.
            if (std::ferror(stdout)) return kExitSystem;
            const std::size_t count = ReadPiece(input.file, live, chunk, sizeof chunk, readError);
            if (count == 0) break;
            stream.Receive(chunk, count);
            received += count;
            while (stream.NextMsg()) {
                const DecodedMessage message = DecodeCurrentMessage(stream);
                printer.Print(message);
                if (message.damaged) {
                    std::fprintf(stderr,
                                 "ktutils dump: %s: offset %llu: %s payload ends inside a field\n",
                                 name, static_cast<unsigned long long>(message.offset),
                                 KTUMessage2::KTUMessage2TypeToString(message.type));
                    status = kExitNegative;
                }
            }
        }
    } catch (const NQBufferError& e) {
        std::fprintf(stderr, "ktutils dump: %s: offset %llu: malformed frame: %s\n", name,
                     static_cast<unsigned long long>(stream.MsgOffset()), e.what());
        return kExitNegative;
    }
    if (readError != 0) {
        std::fprintf(stderr, "ktutils dump: %s: read error: %s\n", name, std::strerror(readError));
        return kExitSystem;
    }
    if (stream.PendingInput() != 0) {
        const uint64_t offset = received - stream.PendingInput();
        std::fprintf(stderr,
                     "ktutils dump: %s: offset %llu: truncated message (%zu bytes, stream ends)\n",
                     name, static_cast<unsigned long long>(offset), stream.PendingInput());
        return kExitNegative;
    }
    return status;
}

}  // namespace

Command AddDumpCommand(CLI::App& tool) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App* dump =
        tool.add_subcommand("dump", "Decode a captured message stream, one line per message");
    dump->add_option("FILE", options->path, "the stream; - for standard input")->required();
    dump->add_flag("--json", options->json, "one JSON object per line");
    dump->add_option("--port", options->capture.port,
                     "a capture: only the connections with this TCP port")
        ->check(CLI::Range(0, 65535));
    dump->add_option("--connection", options->capture.connection,
                     "a capture: only this connection (numbered from 1)")
        ->check(CLI::PositiveNumber);
    return {dump, [options] { return Dump(*options); }};
}

}  // namespace ktutils::tool
