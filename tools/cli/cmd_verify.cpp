// ktutils verify FILE...: whether each file carries an Authenticode
// signature that the platform's trust service accepts.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ktutils/ktutils.h"
#include "tools/files/checksum_line.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"

namespace ktutils::tool {
namespace {

struct VerifyOptions {
    std::vector<std::string> files;
    bool acceptProviderUnknown = false;
    uint32_t ui = kTrustUiNone;  // a command-line tool shows no dialogs
    std::string roots;
};

int Verify(const VerifyOptions& options) {
    ktutils::VerifyOptions verify;
    verify.trustRoots = options.roots;
    verify.uiChoice = options.ui;
    verify.acceptProviderUnknown = options.acceptProviderUnknown;
    int status = kExitOk;
    for (const std::string& path : options.files) {
        const bool trusted = VerifyFile(path.c_str(), verify).trusted;
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
        "The tool answers trusted or not, without a reason: an unsigned, altered,\n"
        "badly or untrustedly signed, unreadable or missing file, and a missing trust\n"
        "service (libwintrust.so in libktutils' folder ktutils/), all print NOT trusted.\n"
#ifndef _WIN32
        "Trusted roots: exactly those of --roots, else of KTUTILS_TRUST_ROOTS (a PEM\n"
        "file or a directory of them), else OpenSSL's defaults. KTUTILS_REFUSE_SHA1=1\n"
        "refuses SHA-1 signatures.\n"
#endif
        "\n") +
        kExitStatusHelp);
    verify->add_option("FILE", options->files, "files to verify")->required();
    verify->add_flag("--accept-provider-unknown", options->acceptProviderUnknown,
                     "count a trust service that does not know the check as trusting");
    verify->add_option("--ui", options->ui,
                       "dwUIChoice of the trust service: 1 all, 2 none (default), 3 no bad,\n"
                       "4 no good")
        ->option_text("N")
        ->check(CLI::Range(1, 4));
#ifndef _WIN32
    verify->add_option("--roots", options->roots, "trust exactly the roots in this PEM file or directory of them")
        ->option_text("FILE|DIR")
        ->check(CLI::ExistingPath);
#endif
    return {verify, [options] { return Verify(*options); }};
}

}  // namespace ktutils::tool
