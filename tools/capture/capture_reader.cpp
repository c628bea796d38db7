// CaptureReader over libpcap, which reads both pcap and pcapng.
#include <pcap/pcap.h>

#include "tools/capture/capture_reader.h"

namespace ktutils::tool {
namespace {

class PcapReader final : public CaptureReader {
public:
    explicit PcapReader(pcap_t* pcap) : pcap_(pcap), link_(pcap_datalink(pcap)) {}
    ~PcapReader() override { pcap_close(pcap_); }
    PcapReader(const PcapReader&) = delete;
    PcapReader& operator=(const PcapReader&) = delete;

    bool Next(TcpSegment& segment) override {
        for (;;) {
            pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            const int result = pcap_next_ex(pcap_, &header, &data);
            if (result == PCAP_ERROR_BREAK) return false;
            if (result != 1) {
                error_ = pcap_geterr(pcap_);
                return false;
            }
            if (ParseTcpPacket(link_, data, header->caplen, segment)) {
                segment.seconds = header->ts.tv_sec;
                segment.microseconds = static_cast<uint32_t>(header->ts.tv_usec);
                return true;
            }
        }
    }

    std::string Error() const override { return error_; }

private:
    pcap_t* pcap_;
    int link_;
    std::string error_;
};

}  // namespace

std::unique_ptr<CaptureReader> CaptureReader::Open(const std::string& path, std::string& error) {
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_t* pcap = pcap_open_offline(path.c_str(), message);
    if (pcap == nullptr) {
        error = message;
        return nullptr;
    }
    return std::make_unique<PcapReader>(pcap);
}

}  // namespace ktutils::tool
