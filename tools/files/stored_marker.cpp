#include "tools/files/stored_marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ktutils/ktutils.h"

namespace ktutils::tool {

StoredMarker ReadStoredMarker(const std::string& path) {
    StoredMarker marker;
    // O_NONBLOCK: a FIFO under the marker's name must not hang the tool; the
    // library refuses it as a marker anyway.
    const int fd = open((path + ".crc").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            marker.state = StoredMarker::State::Unreadable;
            marker.error = errno;
        }
        return marker;
    }
    struct stat status {};
    char bytes[8];
    ssize_t got = -1;
    if (fstat(fd, &status) == 0) {
        // The bytes themselves too, for a caller that must know all of them:
        // one read gives the few bytes of a regular file whole.
        got = S_ISREG(status.st_mode) && status.st_size <= static_cast<off_t>(sizeof bytes)
                  ? read(fd, bytes, sizeof bytes)
                  : 0;
    }
    const int error = errno;
    close(fd);
    if (got < 0) {
        marker.state = StoredMarker::State::Unreadable;
        marker.error = error;
        return marker;
    }
    if (!S_ISREG(status.st_mode)) return marker;
    marker.size = static_cast<uint64_t>(status.st_size);
    if (marker.size != 4 && marker.size != 8) {
        marker.state = StoredMarker::State::Malformed;
        return marker;
    }
    marker.state = StoredMarker::State::Present;
    marker.bytes.assign(bytes, static_cast<size_t>(got));
    marker.checksum = GetFileCRC2(path.c_str());
    return marker;
}

}  // namespace ktutils::tool
