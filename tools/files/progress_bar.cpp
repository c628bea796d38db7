#include "tools/files/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ktutils::tool {
namespace {

// Ten frames a second look smooth and cost nothing next to the reading.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
// Long names are cut from the left: the end of a path says most.
constexpr std::size_t kLabelWidth = 32;

ProgressMode gMode = ProgressMode::Auto;

// What erases the drawn bar, kept ready for the SIGINT handler, which may
// only call async-signal-safe functions.
char gErase[256];
volatile std::sig_atomic_t gEraseLength = 0;
int gEraseFd = -1;

void EraseAndDie(int signal) {
    if (gEraseLength > 0) {
        const ssize_t ignored = write(gEraseFd, gErase, static_cast<std::size_t>(gEraseLength));
        (void)ignored;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string FitLabel(std::string label) {
    if (label.size() > kLabelWidth) label = "..." + label.substr(label.size() - (kLabelWidth - 3));
    return label;
}

bool TerminalUnderstandsEscapes(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return isatty(fileno(stream)) == 1 && term != nullptr && *term != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

bool Shown(bool escapes, uint64_t total) {
    if (total == 0) return false;  // nothing to measure against
    switch (gMode) {
        case ProgressMode::Never: return false;
        case ProgressMode::Always: return true;
        case ProgressMode::Auto: break;
    }
    return escapes && total > ProgressBar::kThreshold;
}

}  // namespace

void ProgressBar::SetMode(ProgressMode mode) { gMode = mode; }

ProgressBar::ProgressBar(std::FILE* terminal, std::string label, uint64_t total)
    : terminal_(terminal),
      label_(FitLabel(std::move(label))),
      total_(total),
      escapes_(TerminalUnderstandsEscapes(terminal)),
      active_(Shown(escapes_, total)) {}

ProgressBar::~ProgressBar() {
    if (!drawn_) return;
    // Erase the line, so the results that follow start on a clean one.
    std::fwrite(gErase, 1, static_cast<std::size_t>(gEraseLength), terminal_);
    std::fflush(terminal_);
    gEraseLength = 0;
    sigaction(SIGINT, &previousInterrupt_, nullptr);
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
    char line[sizeof gErase - 2];
    const int width = std::snprintf(line, sizeof line, "%s [%s] %3d%% %llu/%llu MiB",
                                    label_.c_str(), bar, percent,
                                    static_cast<unsigned long long>(done >> 20),
                                    static_cast<unsigned long long>(total_ >> 20));
    const std::size_t shown = std::min<std::size_t>(static_cast<std::size_t>(width), sizeof line - 1);

    if (!drawn_) {
        drawn_ = true;
        gEraseFd = fileno(terminal_);
        struct sigaction erase {};
        erase.sa_handler = EraseAndDie;
        sigemptyset(&erase.sa_mask);
        sigaction(SIGINT, &erase, &previousInterrupt_);
    }
    // The eraser is rebuilt before the bar it erases is drawn.
    gEraseLength = 0;
    std::size_t length = 0;
    gErase[length++] = '\r';
    if (escapes_) {
        std::memcpy(gErase + length, "\033[K", 3);
        length += 3;
    } else {
        std::memset(gErase + length, ' ', shown);
        length += shown;
        gErase[length++] = '\r';
    }
    gEraseLength = static_cast<std::sig_atomic_t>(length);
    std::fprintf(terminal_, "\r%.*s%s", static_cast<int>(shown), line, escapes_ ? "\033[K" : "");
    std::fflush(terminal_);
}

}  // namespace ktutils::tool
