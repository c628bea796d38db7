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
#include "tools/text/trust_reason.h"
#include "tools/trust/provider_status.h"
#include "tools/trust/trust_roots.h"

namespace ktutils::tool {
namespace {

constexpr const char* kRootsVariable = "KTUTILS_TRUST_ROOTS";

struct VerifyOptions {
    std::vector<std::string> files;
    bool acceptProviderUnknown = false;
    uint32_t ui = 2;  // WTD_UI_NONE: a command-line tool shows no dialogs
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

char* Writable(std::vector<char>& text, const std::string& path) {
    // The library takes a writable path, though it does not write to it.
    text.assign(path.begin(), path.end());
    text.push_back('\0');
    return text.data();
}

int Verify(const CLI::App& command, const VerifyOptions& options) {
#ifndef _WIN32
    // The trust provider reads its roots from the environment at each call.
    if (!options.roots.empty()) setenv(kRootsVariable, options.roots.c_str(), 1);
    if (const char* roots = std::getenv(kRootsVariable); roots != nullptr) {
        std::string why;
        if (!HoldsCertificate(roots, why)) {
            return ReportUsageError(command, std::string(options.roots.empty() ? kRootsVariable : "--roots") +
                                                 " " + QuoteFileName(roots) + ": " + why);
        }
    }
#endif
    int worst = kExitOk;
    std::vector<char> writable;
    for (const std::string& path : options.files) {
        if (const int error = Unreadable(path); error != 0) {
            Diagnose("ktutils verify: %s: %s\n", QuoteFileName(path).c_str(), std::strerror(error));
            if (options.json) std::fputs(JsonLine({{"path", path}, {"error", std::strerror(error)}}).c_str(), stdout);
            worst = kExitSystem;
            continue;
        }
        const int acceptUnknown = options.acceptProviderUnknown ? 1 : 0;
        const bool trusted = VerifyServerComponent(Writable(writable, path), options.ui, acceptUnknown) == 1;
        // The library gives the verdict alone; the service is asked again for
        // its reason where the verdict does not tell it.
        const int32_t status = trusted && !options.acceptProviderUnknown ? 0 : AskTrustService(path, options.ui);
        const TrustReason reason = DescribeTrustStatus(status);
        if (options.json) {
            char hex[11];
            std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(status));
            std::fputs(JsonLine({{"path", path}, {"trusted", trusted}, {"status", hex}, {"name", reason.name},
                                 {"reason", reason.reason}}).c_str(), stdout);
        } else if (trusted) {
            std::printf("%s: trusted\n", QuoteName(path).c_str());
        } else {
            std::printf("%s: NOT trusted: %s (%s)\n", QuoteName(path).c_str(), reason.reason, reason.name);
        }
        if (!trusted) worst = std::max(worst, static_cast<int>(kExitNegative));
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
        "NOT trusted: the file is not signed (TRUST_E_NOSIGNATURE).\n"
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
