// ktutils verify FILE...: whether each file carries an Authenticode
// signature that the platform's trust service accepts, and if not, why.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ktutils/ktutils.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/commands.h"
#include "tools/cli/exit_status.h"
#include "tools/cli/standard_output.h"
#include "tools/files/checksum_line.h"
#include "tools/text/json_line.h"
#include "tools/text/quoted_name.h"
#include "tools/trust/trust_roots.h"

namespace ktutils::tool {
namespace {

constexpr const char* kRootsVariable = "KTUTILS_TRUST_ROOTS";

struct VerifyOptions {
    std::vector<std::string> files;
    bool acceptProviderUnknown = false;
    uint32_t ui = kTrustUiNone;  // a command-line tool shows no dialogs
    std::string roots;
    bool json = false;
};

// Why a file cannot be read, as crc says it, or 0: the trust service would
// only say that it found no file.
int Unreadable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat status {};
    const int error = fstat(fd, &status) != 0 ? errno : S_ISDIR(status.st_mode) ? EISDIR : 0;
    close(fd);
    return error;
}

int Verify(const CLI::App& command, const VerifyOptions& options) {
    ktutils::VerifyOptions verify;
    verify.trustRoots = options.roots;
    verify.uiChoice = options.ui;
    verify.acceptProviderUnknown = options.acceptProviderUnknown;
#ifndef _WIN32
    // Roots without a certificate would trust nothing: every file would be
    // refused as though a stranger had signed it.
    const char* roots = !options.roots.empty() ? options.roots.c_str() : std::getenv(kRootsVariable);
    if (roots != nullptr) {
        std::string why;
        if (!HoldsCertificate(roots, why)) {
            return ReportUsageError(command, std::string(options.roots.empty() ? kRootsVariable : "--roots") +
                                                 " " + QuoteFileName(roots) + ": " + why);
        }
    }
#endif
    int worst = kExitOk;
    for (const std::string& path : options.files) {
        if (const int error = Unreadable(path); error != 0) {
            Diagnose("ktutils verify: %s: %s\n", QuoteFileName(path).c_str(), std::strerror(error));
            if (options.json) std::fputs(JsonLine({{"path", path}, {"error", std::strerror(error)}}).c_str(), stdout);
            worst = kExitSystem;
            continue;
        }
        const TrustVerdict verdict = VerifyFile(path.c_str(), verify);
        if (options.json) {
            char hex[11];
            std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(verdict.status));
            std::fputs(JsonLine({{"path", path}, {"trusted", verdict.trusted}, {"status", hex},
                                 {"name", verdict.StatusName()}, {"reason", verdict.Reason()}}).c_str(), stdout);
        } else if (verdict.trusted) {
            std::printf("%s: trusted\n", QuoteName(path).c_str());
        } else {
            std::printf("%s: NOT trusted: %s (%s)\n", QuoteName(path).c_str(), verdict.Reason(), verdict.StatusName());
        }
        if (!verdict.trusted) worst = std::max(worst, static_cast<int>(kExitNegative));
    }
    return worst;
}

}  // namespace

Command AddVerifyCommand(CLI::App& tool) {
    auto options = std::make_shared<VerifyOptions>();
    CLI::App* verify = tool.add_subcommand(
        "verify", "Say whether each file's Authenticode signature is trusted, and if not, why");
    verify->footer(std::string(
        "An untrusted file's line gives the trust service's reason and status, e.g.\n"
        "NOT trusted: the file carries no signature, or one that cannot be read\n"
        "(TRUST_E_NOSIGNATURE).\n"
#ifndef _WIN32
        "Trusted roots: exactly those of --roots, else of KTUTILS_TRUST_ROOTS (a PEM\n"
        "file, a DER certificate, or a folder of them), else OpenSSL's defaults; roots\n"
        "that hold no certificate are a usage error. KTUTILS_REFUSE_SHA1=1 refuses\n"
        "SHA-1 signatures.\n"
#endif
        "\n") +
        ExitStatusHelp("every file is trusted", "a file is not trusted",
                       "a file could not be read, or the output could not be written"));
    verify->add_option("FILE", options->files, "files to verify")->required()->option_text("FILE...");
    verify->add_flag("--accept-provider-unknown", options->acceptProviderUnknown,
                     "count a trust service that does not know the check as trusting");
    AddNumberOption(*verify, "--ui", options->ui, 1, 4,
                    "dwUIChoice of the trust service: 1 all, 2 none (default), 3 no bad,\n"
                    "4 no good");
    verify->add_flag("--json", options->json,
                     "one JSON object per file: path, trusted, status, name, reason");
#ifndef _WIN32
    verify->add_option("--roots", options->roots,
                       "trust exactly the roots in this PEM or DER file, or folder of them")
        ->option_text("FILE|DIR");
#endif
    return {verify, [verify, options] { return Verify(*verify, *options); }};
}

}  // namespace ktutils::tool
