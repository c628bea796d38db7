#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ktutils::tool {

// A one-line progress bar on a terminal, for reads long enough to make a
// user wonder whether anything is happening. It draws nothing unless the
// stream is a terminal and the total is large, so scripts and pipes never see
// it; it is erased when done.
class ProgressBar {
public:
    // Totals below this finish in well under a second on a local disk.
    static constexpr uint64_t kThreshold = 64ull * 1024 * 1024;

    // `total` in bytes; 0 when unknown (a pipe), which draws nothing.
    ProgressBar(std::FILE* terminal, std::string label, uint64_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    bool Active() const { return active_; }
    void Update(uint64_t done);

private:
    void Draw(uint64_t done);

    std::FILE* terminal_;
    std::string label_;
    uint64_t total_;
    bool active_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace ktutils::tool
