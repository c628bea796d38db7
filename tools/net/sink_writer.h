#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Lines for an output that may stall, such as a pipe that nobody reads: the
// caller queues them and never waits; a thread of the writer's own writes
// them. Past a bound on the queue, lines are dropped and counted, and a
// notice of how many goes out once the output takes lines again.
namespace ktutils::tool {

class LogWriter {
public:
    static constexpr std::size_t kDefaultLimit = 1024 * 1024;  // bytes queued at most

    // `notice(n)` makes the line (with its newline) that tells of n dropped lines.
    LogWriter(int fd, std::function<std::string(unsigned long)> notice,
              std::size_t limit = kDefaultLimit);
    // Finish(0) unless called before.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues `line`, which ends with its newline.
    void Write(std::string line);
    // Waits for the queue to be written while the output takes it, giving up
    // once `patience` passes without a write done; the thread is then left to
    // the process's end, so an output that has stalled holds nothing up.
    void Finish(std::chrono::milliseconds patience);

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    bool finished_ = false;
};

}  // namespace ktutils::tool
