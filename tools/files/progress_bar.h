#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ktutils::tool {

// When a progress bar is drawn: --progress and --no-progress choose, the
// default draws one only on a terminal that understands escape sequences
// (TERM set and not "dumb") and for a large file.
enum class ProgressMode { Auto, Always, Never };

// A one-line progress bar on standard error, for reads long enough to make a
// user wonder whether anything is happening. Scripts and pipes never see it
// unless asked for with ProgressMode::Always; escape sequences are written
// only to a terminal that understands them (elsewhere the line is redrawn
// with a carriage return and blanks). It is erased when done, and when
// SIGINT ends the program while it is drawn.
class ProgressBar {
public:
    // Totals below this finish in well under a second on a local disk.
    static constexpr uint64_t kThreshold = 64ull * 1024 * 1024;

    // For every bar drawn from then on; the tool sets it from its options.
    static void SetMode(ProgressMode mode);

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
    bool escapes_;
    bool active_;
    bool drawn_ = false;
    struct sigaction previousInterrupt_ {};
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace ktutils::tool
