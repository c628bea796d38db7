#pragma once

#include <cstddef>

namespace ktutils::detail {

// zlib's adler32(), bit for bit, for every input; faster where the fast path
// is built in (see adler32.cpp).
unsigned long Adler32(unsigned long running, const unsigned char* data, unsigned int length);

}  // namespace ktutils::detail
