// ktutils dump FILE|-: one line per message of a captured stream, each field
// decoded by the decoder of its type. The stream is read in pieces, so its
// size is not limited by memory; a malformed frame ends the dump with its
// offset.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ktutils.h"
#include "tools/capture_dump.h"
#include "tools/capture_reader.h"
#include "tools/commands.h"
#include "tools/decoded_message.h"
#include "tools/exit_status.h"
#include "tools/message_printer.h"

namespace ktutils::tool {
namespace {

struct DumpOptions {
    std::string path;
    bool json = false;
    CaptureDumpOptions capture;
};

// A pcap or pcapng file goes to the capture dump, told by its magic number.
bool IsCapture(const std::string& path) {
    unsigned char magic[4] = {};
    std::FILE* file = path == "-" ? nullptr : std::fopen(path.c_str(), "rb");
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
    const char* name = standardInput ? "standard input" : options.path.c_str();
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

    MessagePrinter printer(stdout, options.json ? MessagePrinter::Style::Json
                                                : MessagePrinter::Style::Text);
    NQMessageBuffer stream;
    uint64_t received = 0;
    int status = kExitOk;
    unsigned char chunk[64 * 1024];
    try {
        for (;;) {
            const std::size_t count = std::fread(chunk, 1, sizeof chunk, input.file);
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
    if (std::ferror(input.file)) {
        std::fprintf(stderr, "ktutils dump: %s: read error: %s\n", name, std::strerror(errno));
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
