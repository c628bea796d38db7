#include "tools/progress_bar.h"

#include <unistd.h>

#include <utility>

namespace ktutils::tool {
namespace {

// Ten frames a second look smooth and cost nothing next to the reading.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
// Long names are cut from the left: the end of a path says most.
constexpr std::size_t kLabelWidth = 32;

std::string FitLabel(std::string label) {
    if (label.size() > kLabelWidth) label = "..." + label.substr(label.size() - (kLabelWidth - 3));
    return label;
}

}  // namespace

ProgressBar::ProgressBar(std::FILE* terminal, std::string label, uint64_t total)
    : terminal_(terminal),
      label_(FitLabel(std::move(label))),
      total_(total),
      active_(total > kThreshold && isatty(fileno(terminal)) == 1) {}

ProgressBar::~ProgressBar() {
    if (!active_) return;
    // Erase the line, so the results that follow start on a clean one.
    std::fputs("\r\033[K", terminal_);
    std::fflush(terminal_);
}

void ProgressBar::Update(uint64_t done) {
    if (!active_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kRedrawInterval && done < total_) return;
    lastDraw_ = now;
    Draw(done);
}

void ProgressBar::Draw(uint64_t done) {
    if (done > total_) done = total_;  // a file that grew while being read
    const int percent = static_cast<int>(done * 100 / total_);
    const int filled = static_cast<int>(done * kBarWidth / total_);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    std::fprintf(terminal_, "\r%s [%s] %3d%% %llu/%llu MiB\033[K", label_.c_str(), bar, percent,
                 static_cast<unsigned long long>(done >> 20),
                 static_cast<unsigned long long>(total_ >> 20));
    std::fflush(terminal_);
}

}  // namespace ktutils::tool
