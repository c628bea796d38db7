#pragma once

namespace ktutils::detail {

// Adler-32 with SSSE3 or AVX2 vector code, chosen once from what the CPU
// offers. `running` must be a reduced state (both halves below 65521) and
// `data` non-null: the caller leaves every other input to zlib. Returns
// zlib's result for such inputs, bit for bit.
//
// Returns false, and computes nothing, when the code asked for is not there
// (neither instruction set for Best, or a build that is not for x86).
enum class Adler32Code { Best, Ssse3, Avx2 };
bool Adler32Vector(unsigned long running, const unsigned char* data, unsigned int length,
                   unsigned long& result, Adler32Code code = Adler32Code::Best);

// Which code Best runs here: "avx2", "ssse3" or "none".
const char* Adler32VectorKind();

}  // namespace ktutils::detail
