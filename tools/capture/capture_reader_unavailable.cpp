// CaptureReader in a build configured with KTUTILS_WITH_PCAP=OFF: every
// capture is refused with the reason, so `dump` still works on plain streams.
#include "tools/capture/capture_reader.h"

namespace ktutils::tool {

std::unique_ptr<CaptureReader> CaptureReader::Open(std::FILE* file, std::string& error) {
    std::fclose(file);
    error = "this ktutils was built without libpcap (KTUTILS_WITH_PCAP=OFF) and cannot read captures";
    return nullptr;
}

}  // namespace ktutils::tool
