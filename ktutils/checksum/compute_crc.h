#pragma once

#include "ktutils/ktutils_export.h"

// Adler-32 checksums, exactly as zlib's adler32 computes them. The start value
// is 1.

// The checksum of the whole file at `path`; 0 when it cannot be opened as a
// regular file, is 4 GiB or larger, or cannot be read whole.
KTUTILS_EXPORT unsigned int ComputeCRC(const char* path);

// The checksum of the `length` bytes at `data`. A null `data` gives the start
// value; a negative `length` reads nothing and counts as 0.
KTUTILS_EXPORT unsigned int ComputeCRC(const char* data, int length);

// `running` continued over the `length` bytes at `data`, so that a checksum
// can be built piece by piece from InitComputeCRC(). A null `data` gives the
// start value, whatever `running` is; a negative `length` counts as 0.
KTUTILS_EXPORT unsigned int ComputeCRC(unsigned long running, const char* data, int length);

// The start value of a running checksum: 1.
KTUTILS_EXPORT unsigned int InitComputeCRC();
