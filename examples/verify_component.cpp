// Checks a server component's signature before it is loaded, and logs why it is refused.
//
//   verify_component FILE [ROOTS]
//
// ROOTS, a PEM file or a folder of them, are the only roots trusted for this check; without it the trust
// service's own (off Windows: KTUTILS_TRUST_ROOTS, else OpenSSL's defaults). Exit status 0 when trusted.
#include <cinttypes>
#include <cstdio>

#include <ktutils/ktutils.h>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: verify_component FILE [ROOTS]\n");
        return 2;
    }
    ktutils::VerifyOptions options;
    if (argc == 3) options.trustRoots = argv[2];
    const ktutils::TrustVerdict verdict = ktutils::VerifyFile(argv[1], options);
    if (verdict.trusted) {
        std::printf("%s: trusted\n", argv[1]);
        return 0;
    }
    std::printf("%s: NOT trusted: %s (%s, 0x%08" PRIx32 ")\n", argv[1], verdict.Reason(), verdict.StatusName(),
                verdict.status);
    return 1;
}
