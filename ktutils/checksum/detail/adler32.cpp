#include "ktutils/checksum/detail/adler32.h"

#include <zlib.h>

#include "ktutils/checksum/detail/adler32_vector.h"

#if KTUTILS_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace ktutils::detail {
namespace {

// Adler-32's modulus: the largest prime below 2^16.
constexpr unsigned long kModulus = 65521;

// Both halves reduced, nothing above bit 31: every checksum either library can
// produce. On such a state both compute the same sums modulo 65521. zlib
// reduces other states in ways that depend on the length, so they stay with
// zlib, as does the null buffer (zlib answers 1 for it, whatever the state).
// The same holds for the library's own vector code.
bool IsReducedState(unsigned long running) {
    return (running >> 16) < kModulus && (running & 0xffffUL) < kModulus;
}

}  // namespace

unsigned long Adler32(unsigned long running, const unsigned char* data, unsigned int length) {
    if (data != nullptr && IsReducedState(running)) {
#if KTUTILS_HAVE_LIBDEFLATE
        // libdeflate picks its vector code once, at its first call.
        return libdeflate_adler32(static_cast<unsigned int>(running), data, length);
#else
        // Without libdeflate (the Windows DLLs): zlib's loop is scalar, a
        // fraction of the vector code's speed (docs/performance.md).
        unsigned long result = 0;
        if (Adler32Vector(running, data, length, result)) return result;
#endif
    }
    return adler32(running, data, length);
}

}  // namespace ktutils::detail
