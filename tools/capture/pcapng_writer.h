#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/net/sink_writer.h"

// A pcapng file of raw IP packets (link type RAW): one section, one
// interface, one Enhanced Packet Block per packet, microsecond timestamps.
// The file's header is written at once; packets go through a SinkWriter, so
// a FIFO that nobody reads or a full disk never holds up the caller: the
// file keeps whole blocks only, and what was lost is told on standard error.
namespace ktutils::tool {

class PcapngWriter {
public:
    // Packets queued for the file at most; past that they are dropped.
    static constexpr std::size_t kQueueLimit = 4 * 1024 * 1024;

    // Null with `error` set when the file cannot be created or its header
    // not written. `command` ("ktutils serve") starts the lines that tell
    // of lost packets.
    static std::unique_ptr<PcapngWriter> Create(const std::string& path, const std::string& command,
                                                std::string& error);
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Queues one IP packet.
    void Write(std::chrono::system_clock::time_point when, const uint8_t* packet,
               std::size_t size);
    // Waits up to `patience` without progress for the queued packets to be
    // written; true when every packet reached the file.
    bool Finish(std::chrono::milliseconds patience);

private:
    explicit PcapngWriter(std::unique_ptr<SinkWriter> sink) : sink_(std::move(sink)) {}

    std::unique_ptr<SinkWriter> sink_;
};

}  // namespace ktutils::tool
