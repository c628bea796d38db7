#pragma once

#include <string>

namespace ktutils::tool {

// What the ".crc" marker beside a regular file holds.
struct StoredMarker {
    bool present = false;
    unsigned int checksum = 0;  // 0 when absent
};

// The marker's checksum as GetFileCRC2 reads it. GetFileCRC2 answers 0 both
// for "no marker" and for a marker that holds 0 (or is empty); the two are
// told apart by whether `path` + ".crc" opens for reading as a regular file,
// the same test the library's open applies. `path` must name a regular file:
// GetFileCRC2 sees no marker beside anything else.
StoredMarker ReadStoredMarker(const std::string& path);

}  // namespace ktutils::tool
