#include "tools/capture/pcapng_writer.h"

#include <cerrno>
#include <cstring>

namespace ktutils::tool {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kLinkTypeRaw = 101;  // IPv4 or IPv6, told by the version nibble
constexpr uint32_t kSnapLength = 262144;

// pcapng is written in the host's byte order; the byte-order magic tells
// readers which that was.
template <class T>
void Put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

}  // namespace

std::unique_ptr<PcapngWriter> PcapngWriter::Create(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<PcapngWriter> writer(new PcapngWriter(file));
    std::string section;
    Put(section, kByteOrderMagic);
    Put<uint16_t>(section, 1);  // version 1.0
    Put<uint16_t>(section, 0);
    Put<int64_t>(section, -1);  // section length not given
    writer->Block(kSectionHeader, section);
    std::string interface;
    Put(interface, kLinkTypeRaw);
    Put<uint16_t>(interface, 0);
    Put(interface, kSnapLength);
    writer->Block(kInterfaceDescription, interface);
    if (!writer->Good()) {
        error = std::strerror(errno);
        return nullptr;
    }
    return writer;
}

PcapngWriter::~PcapngWriter() { std::fclose(file_); }

void PcapngWriter::Block(uint32_t type, const std::string& body) {
    std::string block;
    const auto padded = static_cast<uint32_t>((body.size() + 3) / 4 * 4);
    const uint32_t total = 12 + padded;
    Put(block, type);
    Put(block, total);
    block += body;
    block.append(padded - body.size(), '\0');
    Put(block, total);
    good_ = good_ && std::fwrite(block.data(), 1, block.size(), file_) == block.size() &&
            std::fflush(file_) == 0;
}

void PcapngWriter::Write(std::chrono::system_clock::time_point when, const uint8_t* packet,
                         std::size_t size) {
    const auto micros = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count());
    std::string body;
    Put<uint32_t>(body, 0);  // interface 0
    Put(body, static_cast<uint32_t>(micros >> 32));
    Put(body, static_cast<uint32_t>(micros));
    Put(body, static_cast<uint32_t>(size));
    Put(body, static_cast<uint32_t>(size));
    body.append(reinterpret_cast<const char*>(packet), size);
    Block(kEnhancedPacket, body);
}

bool PcapngWriter::Good() const { return good_; }

}  // namespace ktutils::tool
