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
#include "tools/text/quoted_name.h"
#include "tools/text/time_text.h"
#include "tools/capture/pcapng_writer.h"
#include "tools/net/reference_client.h"

namespace ktutils::tool {

Command AddConnectCommand(CLI::App& tool) {
    struct Options {
        ConnectOptions connect;
        unsigned timeoutSeconds = 5;
        unsigned intervalMilliseconds = 0;
        bool json = false;
        bool showSecrets = false;
        TimeForm time = TimeForm::Iso;
        std::string capture;
    };
    auto options = std::make_shared<Options>();
    options->connect.version = GetKTUVersion();
    ConnectOptions& connect = options->connect;

    CLI::App* app = tool.add_subcommand("connect", "Connect to a server with the reference client");
    app->footer(ExitStatusHelp("the server accepted the connection", "the server refused it",
                               "the connection failed, the server timed out or broke the protocol,\n"
                               "     or the capture or output could not be written"));
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
        ->required()
        ->option_text("HOST:PORT");
    app->add_option_function<std::string>(
           "--form",
           [&connect](const std::string& text) {
               const auto form = ParseNumber(text, 0, UINT16_MAX);
               if (!form || !IsClientForm(static_cast<uint16_t>(*form))) {
                   throw CLI::ValidationError("--form", "'" + text + "' is not one of 21, 22, 27, 28, 29");
               }
               connect.form = static_cast<uint16_t>(*form);
           },
           "the connect request's message type: 21 (default), 22, 27, 28, 29")
        ->option_text("TYPE");
    AddProtocolVersionOption(*app, connect.version, "the version to announce (default: the library's)");
    AddModulesOption(*app, connect.modules, "a module to ask for; repeatable");
    app->add_option("--name", connect.name, "who connects (string1)")->capture_default_str()->option_text("NAME");
    AddPasswordOptions(*app, connect.password, "string2, or block2 of forms 27 and 28");
    AddNumberOption(*app, "--pings", connect.pings, 0, UINT32_MAX,
                    "Ping/KeepAlive rounds once connected (default 1)");
    AddNumberOption(*app, "--interval", options->intervalMilliseconds, 0, UINT32_MAX,
                    "milliseconds before each ping (default 0)", "MS");
    AddNumberOption(*app, "--timeout", options->timeoutSeconds, 1, 3600,
                    "seconds to wait for each answer, 1 to 3600 (default 5)");
    app->add_flag("--json", options->json, "print JSON lines");
    AddTimeOption(*app, options->time, "the time on each line: iso (default), epoch, relative or delta");
    AddShowSecretsOption(*app, options->showSecrets);
    app->add_option("--capture", options->capture, "write the exchange to this pcapng file")
        ->option_text("FILE");

    auto run = [options]() -> int {
        options->connect.timeout = std::chrono::seconds(options->timeoutSeconds);
        options->connect.interval = std::chrono::milliseconds(options->intervalMilliseconds);
        std::unique_ptr<PcapngWriter> capture;
        if (!options->capture.empty()) {
            std::string error;
            capture = PcapngWriter::Create(options->capture, "ktutils connect", error);
            if (!capture) {
                std::fprintf(stderr, "ktutils connect: %s: %s\n", QuoteFileName(options->capture).c_str(),
                             error.c_str());
                return kExitSystem;
            }
            options->connect.capture = capture.get();
        }
        // Line-buffered standard output sends each line as it is written.
        TimeText time(options->time);
        const bool json = options->json;
        MessagePrinter printer([&time, json](std::string line) { std::fputs(Stamped(line, json, time).c_str(), stdout); },
                               json ? MessagePrinter::Style::Json : MessagePrinter::Style::Text);
        printer.ShowSecrets(options->showSecrets);
        const int status = RunClient(options->connect, printer);
        // A capture that misses packets is no record of the exchange; the
        // writer has said what was lost and why.
        if (capture && !capture->Finish(options->connect.timeout)) return kExitSystem;
        return status;
    };
    return {app, run};
}

}  // namespace ktutils::tool
