#pragma once

#include <cstdint>
#include <string>

namespace ktutils::tool {

// What the ".crc" marker beside a regular file holds.
struct StoredMarker {
    enum class State {
        Absent,      // no marker (or a folder or FIFO under its name, as for the library)
        Present,     // 4 or 8 bytes: `checksum` is what GetFileCRC2 reads
        Malformed,   // a regular file of another size (`size`): no writer makes one
        Unreadable,  // it is there but does not open (`error`)
    };
    State state = State::Absent;
    unsigned int checksum = 0;
    std::string bytes;  // Present: all 4 or 8 of them, as the file holds them
    uint64_t size = 0;
    int error = 0;
};

// The marker's checksum as GetFileCRC2 reads it, and what the library does
// not say. GetFileCRC2 answers 0 alike for "no marker", a marker that holds
// 0, a marker it cannot open and one of any size (it reads the first 4 bytes
// and looks at no count), so the marker is opened here first: absent when
// its name does not exist or is not a regular file (the library's own
// open refuses those too), unreadable with the open's errno, malformed
// unless it has the 4 bytes of CreateFileCRCMarker or the 8 of
// WriteFileInfo. `path` must name a regular file: GetFileCRC2 sees no
// marker beside anything else.
StoredMarker ReadStoredMarker(const std::string& path);

}  // namespace ktutils::tool
