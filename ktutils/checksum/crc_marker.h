#pragma once

#include "ktutils/ktutils_export.h"

// ".crc" marker files: the checksum of a file kept beside it, under the file's
// path with ".crc" appended, as 4 little-endian bytes; WriteFileInfo adds a
// little-endian 32-bit value after them. A marker is replaced atomically,
// through a temporary file of its own under a fresh name; one that is a
// symbolic link is written in place through it, by the OS's own open.

// The marker's checksum, else the checksum computed from the file (0 when that
// fails too). `*fromMarker`, when given, says which: 1 for the marker.
KTUTILS_EXPORT unsigned int GetFileCRC(const char* path, int* fromMarker);

// The marker's checksum alone; 0 when `path` is null, names no regular file,
// or has no marker.
KTUTILS_EXPORT unsigned int GetFileCRC2(const char* path);

// Writes a 4-byte marker for `path`: 1 when the marker could be opened for
// writing, else 0, as for an in-place open (a folder, a read-only marker or
// a name too long gives 0; mode and owner stay). Nothing but the marker and
// the writer's own temporary file is touched. The file itself need not
// exist.
KTUTILS_EXPORT int CreateFileCRCMarker(const char* path, unsigned int crc);

// Writes an 8-byte marker: `crc`, then `info`. 1 or 0 as CreateFileCRCMarker.
KTUTILS_EXPORT int WriteFileInfo(const char* path, unsigned int crc, int info);
