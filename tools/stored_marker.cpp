#include "tools/stored_marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ktutils.h"

namespace ktutils::tool {
namespace {

bool MarkerOpens(const std::string& markerPath) {
    // O_NONBLOCK: a FIFO under the marker's name must not hang the tool; the
    // library refuses it as a marker anyway.
    const int fd = open(markerPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    close(fd);
    return regular;
}

}  // namespace

StoredMarker ReadStoredMarker(const std::string& path) {
    StoredMarker marker;
    marker.checksum = GetFileCRC2(path.c_str());
    marker.present = marker.checksum != 0 || MarkerOpens(path + ".crc");
    return marker;
}

}  // namespace ktutils::tool
