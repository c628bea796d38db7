// CaptureReader over libpcap, which reads both pcap and pcapng. libpcap is
// loaded the first time a capture is read, not with the program: it brings
// dbus, systemd and their libraries, whose loading every other command
// would pay for at start-up.
#include <dlfcn.h>
#include <pcap/pcap.h>

#include "tools/capture/capture_reader.h"

namespace ktutils::tool {
namespace {

// The calls made of libpcap, found in the loaded library.
struct Pcap {
    pcap_t* (*fopenOffline)(FILE*, char*);
    int (*nextEx)(pcap_t*, pcap_pkthdr**, const u_char**);
    char* (*geterr)(pcap_t*);
    void (*close)(pcap_t*);
    int (*datalink)(pcap_t*);
};

// By its soname, which the loader looks for in the system's library folders
// (and where LD_LIBRARY_PATH says), as for a library linked in; the
// library is never released.
const Pcap* LoadPcap(std::string& error) {
    static Pcap pcap{};
    static std::string failure;
    static const bool loaded = [] {
        void* library = dlopen(KTUTILS_PCAP_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            failure = std::string("libpcap cannot be loaded: ") + dlerror();
            return false;
        }
        const auto find = [library](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            if (function == nullptr) failure = std::string(KTUTILS_PCAP_SONAME " has no ") + name;
        };
        find(pcap.fopenOffline, "pcap_fopen_offline");
        find(pcap.nextEx, "pcap_next_ex");
        find(pcap.geterr, "pcap_geterr");
        find(pcap.close, "pcap_close");
        find(pcap.datalink, "pcap_datalink");
        return failure.empty();
    }();
    error = failure;
    return loaded ? &pcap : nullptr;
}

class PcapReader final : public CaptureReader {
public:
    PcapReader(const Pcap& api, pcap_t* pcap) : api_(api), pcap_(pcap), link_(api.datalink(pcap)) {}
    ~PcapReader() override { api_.close(pcap_); }
    PcapReader(const PcapReader&) = delete;
    PcapReader& operator=(const PcapReader&) = delete;

    int LinkType() const override { return link_; }

    bool Next(TcpSegment& segment) override {
        for (;;) {
            pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            const int result = api_.nextEx(pcap_, &header, &data);
            if (result == PCAP_ERROR_BREAK) return false;
            if (result != 1) {
                error_ = api_.geterr(pcap_);
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
    const Pcap& api_;
    pcap_t* pcap_;
    int link_;
    std::string error_;
};

}  // namespace

std::unique_ptr<CaptureReader> CaptureReader::Open(std::FILE* file, std::string& error) {
    const Pcap* api = LoadPcap(error);
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_t* pcap = api != nullptr ? api->fopenOffline(file, message) : nullptr;
    if (pcap == nullptr) {
        if (api != nullptr) error = message;
        std::fclose(file);
        return nullptr;
    }
    return std::make_unique<PcapReader>(*api, pcap);
}

}  // namespace ktutils::tool
