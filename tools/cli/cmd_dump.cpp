// ktutils dump FILE|-: one line per message of a captured stream, each field
// decoded by the decoder of its type, or of the connections of a pcap or
// pcapng capture. The stream is read in pieces, so its size is not limited
// by memory; a malformed frame ends the dump with its offset.
#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/capture/capture_dump.h"
#include "tools/capture/capture_reader.h"
#include "tools/cli/cli_options.h"
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
    bool showSecrets = false;
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

// A capture's reader wants a stream from its first byte, and the magic
// number that told it apart was read already: this one gives those bytes
// back first, then reads on, piece by piece as they come when live.
struct Replay {
    std::string head;
    std::FILE* input;
    bool live;
    bool owned;
};

ssize_t ReplayRead(void* cookie, char* buffer, std::size_t size) {
    auto* replay = static_cast<Replay*>(cookie);
    if (!replay->head.empty()) {
        const std::size_t count = std::min(size, replay->head.size());
        std::memcpy(buffer, replay->head.data(), count);
        replay->head.erase(0, count);
        return static_cast<ssize_t>(count);
    }
    int error = 0;
    const std::size_t count =
        ReadPiece(replay->input, replay->live, reinterpret_cast<unsigned char*>(buffer), size, error);
    if (count == 0 && error != 0) {
        errno = error;
        return -1;
    }
    return static_cast<ssize_t>(count);
}

int ReplayClose(void* cookie) {
    auto* replay = static_cast<Replay*>(cookie);
    if (replay->owned) std::fclose(replay->input);
    delete replay;
    return 0;
}

struct InputFile {
    std::FILE* file = nullptr;
    bool owned = false;
    ~InputFile() {
        if (owned && file != nullptr) std::fclose(file);
    }
};

int Dump(DumpOptions& options) {
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
            Diagnose("ktutils dump: %s: %s\n", name, std::strerror(errno));
            return kExitSystem;
        }
    }
    const bool live = IsLive(input.file);
    // Only a live stream's lines go out one by one, as they are decoded.
    if (!live) BufferWholeLines();

    // The first bytes tell a pcap or pcapng capture (by its magic number,
    // which no valid stream starts with) from a stream of frames.
    unsigned char chunk[64 * 1024];
    std::size_t first = 0;
    int readError = 0;
    while (first < 4) {
        const std::size_t count = ReadPiece(input.file, live, chunk + first, 4 - first, readError);
        if (count == 0) break;
        first += count;
    }
    if (IsCaptureFile(chunk, first)) {
        // A file is read again from its start; a pipe gives back the bytes
        // taken from it through a stream of its own.
        std::FILE* capture = input.file;
        if (live || std::fseek(input.file, 0, SEEK_SET) != 0) {
            auto* replay = new Replay{std::string(reinterpret_cast<char*>(chunk), first), input.file, live, input.owned};
            capture = fopencookie(replay, "rb", {ReplayRead, nullptr, nullptr, ReplayClose});
            if (capture == nullptr) {
                delete replay;
                Diagnose("ktutils dump: %s: %s\n", name, std::strerror(errno));
                return kExitSystem;
            }
        }
        input.owned = false;  // the capture's reader closes it
        options.capture.name = quoted;
        options.capture.json = options.json;
        options.capture.showSecrets = options.showSecrets;
        return DumpCapture(options.capture, capture);
    }

    MessagePrinter printer(stdout,
                           options.json ? MessagePrinter::Style::Json : MessagePrinter::Style::Text,
                           StandardOutputIsTerminal() || live);
    printer.ShowSecrets(options.showSecrets);
    NQMessageBuffer stream;
    uint64_t received = 0;
    int status = kExitOk;
    try {
        for (std::size_t count = first; count != 0;) {
            stream.Receive(chunk, count);
            received += count;
            while (stream.NextMsg()) {
                const DecodedMessage message = DecodeCurrentMessage(stream);
                printer.Print(message);
                if (message.damaged) {
                    Diagnose("ktutils dump: %s: offset %llu: %s payload ends inside a field\n",
                             name, static_cast<unsigned long long>(message.offset),
                             KTUMessage2::KTUMessage2TypeToString(message.type));
                    status = kExitNegative;
                }
            }
            // Output that cannot be written ends the dump: main reports it.
            if (std::ferror(stdout) || readError != 0) break;
            count = ReadPiece(input.file, live, chunk, sizeof chunk, readError);
        }
    } catch (const NQBufferError& e) {
        Diagnose("ktutils dump: %s: offset %llu: malformed frame: %s\n", name,
                 static_cast<unsigned long long>(stream.MsgOffset()), e.what());
        return kExitNegative;
    }
    if (std::ferror(stdout)) return kExitSystem;
    if (readError != 0) {
        Diagnose("ktutils dump: %s: read error: %s\n", name, std::strerror(readError));
        return kExitSystem;
    }
    if (stream.PendingInput() != 0) {
        const uint64_t offset = received - stream.PendingInput();
        Diagnose("ktutils dump: %s: offset %llu: truncated message (%zu bytes, stream ends)\n",
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
    dump->footer(ExitStatusHelp("every message was decoded",
                                "a frame was malformed, damaged or truncated, or nothing was found\n"
                                "     in a capture",
                                "the file could not be read, or the output could not be written"));
    dump->add_option("FILE", options->path, "the stream or pcap/pcapng capture; - for standard input")
        ->required()
        ->option_text("FILE");
    dump->add_flag("--json", options->json, "one JSON object per line");
    AddNumberOption(*dump, "--port", options->capture.port, 0, 65535,
                    "a capture: only the connections with this TCP port", "PORT");
    AddNumberOption(*dump, "--connection", options->capture.connection, 1, UINT32_MAX,
                    "a capture: only this connection (numbered from 1)", "ID");
    AddTimeOption(*dump, options->capture.time,
                  "a capture: the time on each line: epoch (default), iso, relative\n"
                  "(to the first line) or delta (to the line before)");
    AddShowSecretsOption(*dump, options->showSecrets);
    return {dump, [options] { return Dump(*options); }};
}

}  // namespace ktutils::tool
