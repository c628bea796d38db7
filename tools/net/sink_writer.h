#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Records for an output that may stall or fail (the server's log on a pipe
// that nobody reads, a capture on a FIFO whose reader left or on a full
// disk): the caller queues whole records and never waits; a thread of the
// writer's own writes them, so the caller's clients never depend on the
// output's reader.
//
// Past a bound on the queue, records are dropped whole until the thread has
// written everything queued; that episode is then told once, in the output
// itself when `dropNotice` makes a record for it, else on standard error.
// A write that fails (EPIPE, ENOSPC, EFBIG, EIO) ends the output: standard
// error says once which output, why and how much was lost; a regular file is
// cut back to its last whole record, and later records are discarded.
namespace ktutils::tool {

class SinkWriter {
public:
    struct Options {
        std::string who;              // starts each line on standard error: "ktutils serve: cap.pcapng"
        std::string unit = "records";  // what a record is, plural: "log lines", "packets"
        std::size_t limit = 1024 * 1024;  // bytes queued at most
        // Makes the record (with its newline) that tells of n dropped records.
        std::function<std::string(unsigned long)> dropNotice;
        bool ownsFd = false;  // closed once the thread is done with it
    };

    SinkWriter(int fd, Options options);
    // Finish(0) unless called before.
    ~SinkWriter();
    SinkWriter(const SinkWriter&) = delete;
    SinkWriter& operator=(const SinkWriter&) = delete;

    void Write(std::string record);
    // Waits for the queue to be written while the output takes it, giving up
    // once `patience` passes without a write done: what is left is reported
    // lost and the thread is left to the process's end, so an output that
    // has stalled holds nothing up.
    void Finish(std::chrono::milliseconds patience);

    // A write failed: the output was given up.
    bool Failed() const;
    // Some record did not reach the output: it failed, records were dropped
    // (told in-band or not), or Finish gave up on some.
    bool Lost() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    bool finished_ = false;
};

}  // namespace ktutils::tool
