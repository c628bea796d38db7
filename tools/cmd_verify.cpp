// ktutils verify FILE...: whether each file carries an Authenticode
// signature that the platform's trust service accepts.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ktutils.h"
#include "tools/checksum_line.h"
#include "tools/commands.h"
#include "tools/exit_status.h"

namespace ktutils::tool {
namespace {

struct VerifyOptions {
    std::vector<std::string> files;
    bool acceptProviderUnknown = false;
    uint32_t ui = 2;  // WTD_UI_NONE: a command-line tool shows no dialogs
};

int Verify(const VerifyOptions& options) {
    int status = kExitOk;
    for (const std::string& path : options.files) {
        // The library takes a writable path, though it does not write to it.
        std::vector<char> writable(path.begin(), path.end());
        writable.push_back('\0');
        const int acceptUnknown = options.acceptProviderUnknown ? 1 : 0;
        const bool trusted = VerifyServerComponent(writable.data(), options.ui, acceptUnknown) == 1;
        std::printf("%s: %s\n", QuoteName(path).c_str(), trusted ? "trusted" : "NOT trusted");
        if (!trusted) status = kExitNegative;
    }
    return status;
}

}  // namespace

Command AddVerifyCommand(CLI::App& tool) {
    auto options = std::make_shared<VerifyOptions>();
    CLI::App* verify = tool.add_subcommand(
        "verify", "Say whether each file's Authenticode signature is trusted (exit 0 if all are)");
    verify->footer(std::string(
        "The library answers trusted or not, without a reason: an unsigned, altered,\n"
        "badly or untrustedly signed, unreadable or missing file, and a missing trust\n"
        "service (libwintrust.so beside libktutils.so), all print NOT trusted.\n"
        "Trusted roots are OpenSSL's (SSL_CERT_FILE, SSL_CERT_DIR).\n\n") +
        kExitStatusHelp);
    verify->add_option("FILE", options->files, "files to verify")->required();
    verify->add_flag("--accept-provider-unknown", options->acceptProviderUnknown,
                     "count a trust service that does not know the check as trusting");
    verify->add_option("--ui", options->ui,
                       "dwUIChoice of the trust service: 1 all, 2 none (default), 3 no bad,\n"
                       "4 no good")
        ->option_text("N")
        ->check(CLI::Range(1, 4));
    return {verify, [options] { return Verify(*options); }};
}

}  // namespace ktutils::tool
