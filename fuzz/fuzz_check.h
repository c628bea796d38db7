#pragma once

#include <cstdio>
#include <cstdlib>

// A harness's own assertion: kept in every build type (unlike assert), and an abort, which
// libFuzzer and the replay test both report with the input.
#define KTUTILS_FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : KtutilsFuzzCheckFailed(#condition, __FILE__, __LINE__))

[[noreturn]] inline void KtutilsFuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}
