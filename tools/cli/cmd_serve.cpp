// ktutils serve: the reference server. It answers discovery, challenges and
// connect requests by its settings, and prints every message it sends or
// receives, numbered by client.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/net/sink_writer.h"
#include "tools/text/message_printer.h"
#include "tools/text/quoted_name.h"
#include "tools/text/time_text.h"
#include "tools/capture/pcapng_writer.h"
#include "tools/net/reference_server.h"

namespace ktutils::tool {
namespace {

void StopOnSignal(int) { RequestServerStop(); }

// No SA_RESTART: a call that the signal interrupts returns rather than
// waiting on, whatever it was waiting for.
void StopOn(int signal) {
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// The least --max-memory: one frame and its answers must fit.
constexpr std::size_t kLeastMemory = 64 * 1024;

// Bytes, or a number with a unit (512KiB, 1GiB), at least kLeastMemory.
std::optional<std::size_t> ParseMemory(const std::string& text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0])) == 0) return std::nullopt;
    std::string bytes = text;
    try {
        // An unknown unit is thrown rather than returned.
        if (!CLI::AsSizeValue(false)(bytes).empty()) return std::nullopt;
    } catch (const CLI::Error&) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long size = std::strtoull(bytes.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || size < kLeastMemory || size > SIZE_MAX) return std::nullopt;
    return static_cast<std::size_t>(size);
}

std::string DroppedNotice(bool json, unsigned long count) {
    if (json) {
        return nlohmann::ordered_json{{"event", "log-dropped"}, {"lines", count}}.dump() + "\n";
    }
    return std::to_string(count) + " log lines dropped: the output did not keep up\n";
}

}  // namespace

Command AddServeCommand(CLI::App& tool) {
    struct Options {
        ServeOptions serve;
        unsigned timeoutSeconds = 30;
        unsigned loginSeconds = 3;
        bool json = false;
        bool showSecrets = false;
        TimeForm time = TimeForm::Iso;
        std::string capture;
    };
    auto options = std::make_shared<Options>();
    options->serve.settings.version = GetKTUVersion();
    ServeOptions& serve = options->serve;

    CLI::App* app = tool.add_subcommand("serve", "Run the reference server (loopback by default)");
    app->footer(ExitStatusHelp("stopped by a signal or after --clients connections", nullptr,
                               "it could not listen, or the capture could not be written"));
    app->add_option("--bind", serve.host, "address to listen on")->capture_default_str()->option_text("ADDRESS");
    AddNumberOption(*app, "--port", serve.port, 0, 65535, "port to listen on; 0 (default) picks a free one",
                    "PORT");
    AddNumberOption(*app, "--capacity", serve.settings.capacity, 0, UINT32_MAX,
                    "clients connected at once at most (default 8)");
    AddProtocolVersionOption(*app, serve.settings.version,
                     "the version clients must bring (default: the library's)");
    AddModulesOption(*app, serve.settings.modules, "a module the server offers; repeatable");
    app->add_flag("--deny", serve.settings.deny, "refuse every connect request");
    AddNumberOption(*app, "--clients", serve.clients, 0, UINT32_MAX,
                    "stop after this many connections; 0 (default): never");
    AddNumberOption(*app, "--timeout", options->timeoutSeconds, 1, 86400,
                    "seconds before a silent client is dropped, 1 to 86400 (default 30)");
    AddNumberOption(*app, "--login-timeout", options->loginSeconds, 1, 86400,
                    "seconds a connection may take to log in before it is dropped,\n"
                    "1 to 86400 (default 3)");
    AddNumberOption(*app, "--max-pending", serve.maxPending, 1, 1000000,
                    "connections not logged in held at once, 1 to 1000000 (default\n"
                    "1024); a newcomer takes the place of one");
    app->add_option_function<std::string>(
           "--max-memory",
           [&serve](const std::string& text) {
               const auto size = ParseMemory(text);
               if (!size) {
                   throw CLI::ValidationError("--max-memory", "'" + text + "' is not a size of at least 64KiB "
                                                              "(a number of bytes, or with a unit: 512KiB, 1GiB)");
               }
               serve.maxMemory = *size;
           },
           "answers queued for all clients at most, in bytes or with a unit\n"
           "(512KiB, 1GiB; at least 64KiB; default 64MiB); past it the clients\n"
           "holding the most are dropped")
        ->option_text("SIZE");
    app->add_flag("--quiet", serve.quiet, "print no messages and no per-connection lines");
    app->add_flag("--json", options->json, "print JSON lines");
    AddTimeOption(*app, options->time, "the time on each line: iso (default), epoch, relative or delta");
    AddShowSecretsOption(*app, options->showSecrets);
    app->add_option("--capture", options->capture,
                    "write every connection's exchange to this pcapng file")
        ->option_text("FILE");

    auto run = [options]() -> int {
        options->serve.idleTimeout = std::chrono::seconds(options->timeoutSeconds);
        options->serve.loginTimeout = std::chrono::seconds(options->loginSeconds);
        std::unique_ptr<PcapngWriter> capture;
        if (!options->capture.empty()) {
            std::string error;
            capture = PcapngWriter::Create(options->capture, "ktutils serve", error);
            if (!capture) {
                std::fprintf(stderr, "ktutils serve: %s: %s\n", QuoteFileName(options->capture).c_str(),
                             error.c_str());
                return kExitSystem;
            }
            options->serve.capture = capture.get();
        }
        StopOn(SIGINT);
        StopOn(SIGTERM);
        // Whoever reads the log or the capture may go away; the clients must
        // not go with them. The sinks' threads see EPIPE and say so.
        std::signal(SIGPIPE, SIG_IGN);
        // The server's lines are queued and written by a thread of their own,
        // so that an output nobody reads never stops the server.
        std::fflush(stdout);
        const bool json = options->json;
        SinkWriter::Options logOptions;
        logOptions.who = "ktutils serve: standard output";
        logOptions.unit = "log lines";
        logOptions.dropNotice = [json](unsigned long n) { return DroppedNotice(json, n); };
        SinkWriter log(STDOUT_FILENO, std::move(logOptions));
        TimeText time(options->time);
        MessagePrinter printer([&log, &time, json](std::string line) { log.Write(Stamped(line, json, time)); },
                               json ? MessagePrinter::Style::Json : MessagePrinter::Style::Text);
        printer.ShowSecrets(options->showSecrets);
        int status = RunServer(options->serve, printer);
        // Short: a stop must stay prompt when an output has stalled.
        log.Finish(std::chrono::milliseconds(20));
        const bool captured = !capture || capture->Finish(std::chrono::milliseconds(20));
        // Lines dropped for a slow reader are told in the log itself; a lost
        // output or packets missing from the capture are a failure.
        if (status == kExitOk && (log.Failed() || !captured)) status = kExitSystem;
        return status;
    };
    return {app, run};
}

}  // namespace ktutils::tool
