#include "tools/capture/pcapng_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/text/quoted_name.h"

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

std::string Block(uint32_t type, const std::string& body) {
    std::string block;
    const auto padded = static_cast<uint32_t>((body.size() + 3) / 4 * 4);
    const uint32_t total = 12 + padded;
    Put(block, type);
    Put(block, total);
    block += body;
    block.append(padded - body.size(), '\0');
    Put(block, total);
    return block;
}

}  // namespace

std::unique_ptr<PcapngWriter> PcapngWriter::Create(const std::string& path,
                                                   const std::string& command, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::string section;
    Put(section, kByteOrderMagic);
    Put<uint16_t>(section, 1);  // version 1.0
    Put<uint16_t>(section, 0);
    Put<int64_t>(section, -1);  // section length not given
    std::string interface;
    Put(interface, kLinkTypeRaw);
    Put<uint16_t>(interface, 0);
    Put(interface, kSnapLength);
    const std::string header = Block(kSectionHeader, section) + Block(kInterfaceDescription, interface);
    if (write(fd, header.data(), header.size()) != static_cast<ssize_t>(header.size())) {
        error = errno != 0 ? std::strerror(errno) : "short write";
        close(fd);
        return nullptr;
    }
    SinkWriter::Options options;
    options.who = command + ": " + QuoteFileName(path);
    options.unit = "packets";
    options.limit = kQueueLimit;
    options.ownsFd = true;
    return std::unique_ptr<PcapngWriter>(
        new PcapngWriter(std::make_unique<SinkWriter>(fd, std::move(options))));
}

void PcapngWriter::Write(std::chrono::system_clock::time_point when, const uint8_t* packet,
                         std::size_t size) {
    const auto micros = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count());
    std::string body;
    body.reserve(20 + size);
    Put<uint32_t>(body, 0);  // interface 0
    Put(body, static_cast<uint32_t>(micros >> 32));
    Put(body, static_cast<uint32_t>(micros));
    Put(body, static_cast<uint32_t>(size));
    Put(body, static_cast<uint32_t>(size));
    body.append(reinterpret_cast<const char*>(packet), size);
    sink_->Write(Block(kEnhancedPacket, body));
}

bool PcapngWriter::Finish(std::chrono::milliseconds patience) {
    sink_->Finish(patience);
    return !sink_->Lost();
}

}  // namespace ktutils::tool
