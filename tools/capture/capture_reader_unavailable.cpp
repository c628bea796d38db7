// CaptureReader in a build without libpcap: every capture is refused with
// the reason, so `dump` still works on plain streams.
#include "tools/capture/capture_reader.h"

namespace ktutils::tool {

std::unique_ptr<CaptureReader> CaptureReader::Open(const std::string&, std::string& error) {
    error = "this ktutils was built without libpcap and cannot read captures";
    return nullptr;
}

}  // namespace ktutils::tool
