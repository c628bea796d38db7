// ktutils connect HOST:PORT: the reference client. It looks for the server,
// takes a challenge, sends a connect request in the chosen form, and when
// accepted pings and shuts down, printing every message as it goes.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "ktutils/ktutils.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/net/endpoint.h"
#include "tools/cli/exit_status.h"
#include "tools/text/message_printer.h"
#include "tools/capture/pcapng_writer.h"
#include "tools/net/reference_client.h"

namespace ktutils::tool {

Command AddConnectCommand(CLI::App& tool) {
    struct Options {
        ConnectOptions connect;
        unsigned timeoutSeconds = 5;
        unsigned intervalMilliseconds = 0;
        bool json = false;
        std::string capture;
    };
    auto options = std::make_shared<Options>();
    options->connect.version = GetKTUVersion();
    ConnectOptions& connect = options->connect;

    CLI::App* app = tool.add_subcommand("connect", "Connect to a server with the reference client");
    app->add_option_function<std::string>(
           "HOST:PORT",
           [&connect](const std::string& text) {
               const auto endpoint = ParseEndpoint(text);
               if (!endpoint || endpoint->port == 0) {
                   throw CLI::ValidationError("HOST:PORT", "'" + text + "' is not HOST:PORT");
               }
               connect.server = *endpoint;
           },
           "the server, e.g. 127.0.0.1:4000 or [::1]:4000")
        ->required();
    app->add_option("--form", connect.form, "the connect request's message type")
        ->capture_default_str()
        ->check(CLI::IsMember({21, 22, 27, 28, 29}));
    AddProtocolVersionOption(*app, connect.version, "the version to announce (default: the library's)");
    AddModulesOption(*app, connect.modules, "a module to ask for; repeatable");
    app->add_option("--name", connect.name, "who connects (string1)")->capture_default_str();
    AddPasswordOptions(*app, connect.password, "string2, or block2 of forms 27 and 28");
    app->add_option("--pings", connect.pings, "Ping/KeepAlive rounds once connected")
        ->capture_default_str();
    app->add_option("--interval", options->intervalMilliseconds, "milliseconds before each ping")
        ->capture_default_str();
    app->add_option("--timeout", options->timeoutSeconds, "seconds to wait for each answer")
        ->capture_default_str()
        ->check(CLI::Range(1u, 3600u));
    app->add_flag("--json", options->json, "print JSON lines");
    app->add_option("--capture", options->capture, "write the exchange to this pcapng file");

    auto run = [options]() -> int {
        options->connect.timeout = std::chrono::seconds(options->timeoutSeconds);
        options->connect.interval = std::chrono::milliseconds(options->intervalMilliseconds);
        std::unique_ptr<PcapngWriter> capture;
        if (!options->capture.empty()) {
            std::string error;
            capture = PcapngWriter::Create(options->capture, "ktutils connect", error);
            if (!capture) {
                std::fprintf(stderr, "ktutils connect: %s: %s\n", options->capture.c_str(),
                             error.c_str());
                return kExitSystem;
            }
            options->connect.capture = capture.get();
        }
        MessagePrinter printer(stdout, options->json ? MessagePrinter::Style::Json
                                                     : MessagePrinter::Style::Text);
        const int status = RunClient(options->connect, printer);
        // A capture that misses packets is no record of the exchange; the
        // writer has said what was lost and why.
        if (capture && !capture->Finish(options->connect.timeout)) return kExitSystem;
        return status;
    };
    return {app, run};
}

}  // namespace ktutils::tool
