#pragma once

#include <cstdio>
#include <cstdlib>

// A harness's own assertion. It stays in every build type (unlike assert) and
// aborts, which both libFuzzer and the replay test report as a failure with
// the input that caused it.
#define KTUTILS_FUZZ_CHECK(condition)                                                   \
    ((condition) ? static_cast<void>(0)                                                 \
                 : ::ktutils::detail::FuzzCheckFailed(#condition, __FILE__, __LINE__))

namespace ktutils::detail {

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace ktutils::detail
