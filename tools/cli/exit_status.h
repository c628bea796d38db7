#pragma once

namespace ktutils::tool {

// The tool's exit statuses, the same for every subcommand, so that a script
// can tell "the answer is no" from "the question could not be asked".
enum ExitStatus : int {
    kExitOk = 0,        // done; for connect, the server accepted
    kExitNegative = 1,  // a negative answer: refused, malformed, unknown, failed check
    kExitUsage = 2,     // a missing, unknown or malformed option or argument
    kExitSystem = 3,    // a file, socket or the output failed, or a peer timed out or broke the protocol
};

// The text that `ktutils --help` shows beneath the subcommands.
constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0  success (connect: the server accepted the connection)\n"
    "  1  a negative answer: refused by the server, malformed stream, unknown name,\n"
    "     failed check, stale or missing marker, untrusted file\n"
    "  2  usage error: unknown option, missing or malformed argument\n"
    "  3  system error: a file or socket failed, output could not be written,\n"
    "     a peer timed out or broke the protocol\n";

}  // namespace ktutils::tool
