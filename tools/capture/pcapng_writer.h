#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// A pcapng file of raw IP packets (link type RAW): one section, one
// interface, one Enhanced Packet Block per packet, microsecond timestamps.
namespace ktutils::tool {

class PcapngWriter {
public:
    // Null with `error` set when the file cannot be created.
    static std::unique_ptr<PcapngWriter> Create(const std::string& path, std::string& error);
    ~PcapngWriter();
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Appends one IP packet and flushes, so the file is whole after every
    // packet even if the program is killed.
    void Write(std::chrono::system_clock::time_point when, const uint8_t* packet,
               std::size_t size);
    // False once a write has failed.
    bool Good() const;

private:
    explicit PcapngWriter(std::FILE* file) : file_(file) {}
    void Block(uint32_t type, const std::string& body);

    std::FILE* file_;
    bool good_ = true;
};

}  // namespace ktutils::tool
