// ktutils serve: the reference server. It answers discovery, challenges and
// connect requests by its settings, and prints every message it sends or
// receives, numbered by client.
#include <CLI/CLI.hpp>

#include <csignal>
#include <memory>

#include "ktutils.h"
#include "tools/cli_options.h"
#include "tools/commands.h"
#include "tools/message_printer.h"
#include "tools/reference_server.h"

namespace ktutils::tool {
namespace {

void StopOnSignal(int) { RequestServerStop(); }

}  // namespace

Command AddServeCommand(CLI::App& tool) {
    struct Options {
        ServeOptions serve;
        unsigned timeoutSeconds = 30;
        bool json = false;
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
    app->add_flag("--json", options->json, "print JSON lines");

    auto run = [options]() -> int {
        options->serve.idleTimeout = std::chrono::seconds(options->timeoutSeconds);
        std::signal(SIGINT, StopOnSignal);
        std::signal(SIGTERM, StopOnSignal);
        MessagePrinter printer(stdout, options->json ? MessagePrinter::Style::Json
                                                     : MessagePrinter::Style::Text);
        return RunServer(options->serve, printer);
    };
    return {app, run};
}

}  // namespace ktutils::tool
