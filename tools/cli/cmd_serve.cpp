// ktutils serve: the reference server. It answers discovery, challenges and
// connect requests by its settings, and prints every message it sends or
// receives, numbered by client.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/net/sink_writer.h"
#include "tools/text/message_printer.h"
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
        std::string capture;
    };
    auto options = std::make_shared<Options>();
    options->serve.settings.version = GetKTUVersion();
    ServeOptions& serve = options->serve;

    CLI::App* app = tool.add_subcommand("serve", "Run the reference server (loopback by default)");
    app->add_option("--bind", serve.host, "address to listen on")->capture_default_str();
    app->add_option("--port", serve.port, "port to listen on; 0 picks a free one")
        ->capture_default_str();
    app->add_option("--capacity", serve.settings.capacity, "clients connected at once at most")
        ->capture_default_str();
    AddProtocolVersionOption(*app, serve.settings.version,
                     "the version clients must bring (default: the library's)");
    AddModulesOption(*app, serve.settings.modules, "a module the server offers; repeatable");
    app->add_flag("--deny", serve.settings.deny, "refuse every connect request");
    app->add_option("--clients", serve.clients, "stop after this many connections; 0: never")
        ->capture_default_str();
    app->add_option("--timeout", options->timeoutSeconds,
                    "seconds before a silent client is dropped")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
    app->add_option("--login-timeout", options->loginSeconds,
                    "seconds a connection may take to log in before it is dropped")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
    app->add_option("--max-pending", serve.maxPending,
                    "connections not logged in held at once; a newcomer takes the place of one")
        ->capture_default_str()
        ->check(CLI::Range(1u, 1000000u));
    app->add_option("--max-memory", serve.maxMemory,
                    "answers queued for all clients at most, in bytes or with a unit "
                    "(512KiB, 1GiB; at least 64KiB); past it the clients holding the most are dropped")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::Range(std::size_t{64 * 1024}, std::size_t{SIZE_MAX}))
        ->option_text("SIZE=64MiB");
    app->add_flag("--quiet", serve.quiet, "print no messages and no per-connection lines");
    app->add_flag("--json", options->json, "print JSON lines");
    app->add_option("--capture", options->capture,
                    "write every connection's exchange to this pcapng file");

    auto run = [options]() -> int {
        options->serve.idleTimeout = std::chrono::seconds(options->timeoutSeconds);
        options->serve.loginTimeout = std::chrono::seconds(options->loginSeconds);
        std::unique_ptr<PcapngWriter> capture;
        if (!options->capture.empty()) {
            std::string error;
            capture = PcapngWriter::Create(options->capture, "ktutils serve", error);
            if (!capture) {
                std::fprintf(stderr, "ktutils serve: %s: %s\n", options->capture.c_str(),
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
        MessagePrinter printer([&log](std::string line) { log.Write(std::move(line)); },
                               json ? MessagePrinter::Style::Json : MessagePrinter::Style::Text);
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
