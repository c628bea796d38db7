#include "tools/net/sink_writer.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

namespace ktutils::tool {

struct LogWriter::Shared {
    int fd;
    std::function<std::string(unsigned long)> notice;
    std::size_t limit;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::size_t queued = 0;  // bytes in `lines`
    unsigned long dropped = 0;
    bool writing = false;  // the thread holds a batch taken from `lines`
    unsigned long batches = 0;  // written so far: the output's progress
    bool ending = false;
    bool broken = false;  // the output failed: lines are discarded
};

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Drain(const std::shared_ptr<LogWriter::Shared>& s) {
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
        s->changed.wait(lock, [&] { return !s->lines.empty() || s->ending; });
        if (s->lines.empty()) return;
        std::string batch;
        while (!s->lines.empty()) {
            batch += s->lines.front();
            s->lines.pop_front();
        }
        s->queued = 0;
        s->writing = true;
        lock.unlock();
        const bool ok = WriteAll(s->fd, batch);
        lock.lock();
        s->writing = false;
        ++s->batches;
        if (!ok) s->broken = true;
        s->changed.notify_all();
    }
}

}  // namespace

LogWriter::LogWriter(int fd, std::function<std::string(unsigned long)> notice, std::size_t limit)
    : shared_(std::make_shared<Shared>()) {
    shared_->fd = fd;
    shared_->notice = std::move(notice);
    shared_->limit = limit;
    // The stop signals go to the caller's thread, whose wait they must end.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    std::thread(Drain, shared_).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

LogWriter::~LogWriter() {
    if (!finished_) Finish(std::chrono::milliseconds(0));
}

void LogWriter::Write(std::string line) {
    Shared& s = *shared_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.broken || s.ending) return;
    if (s.queued + line.size() > s.limit) {
        ++s.dropped;
        return;
    }
    if (s.dropped != 0) {
        std::string notice = s.notice(s.dropped);
        s.queued += notice.size();
        s.lines.push_back(std::move(notice));
        s.dropped = 0;
    }
    s.queued += line.size();
    s.lines.push_back(std::move(line));
    s.changed.notify_all();
}

void LogWriter::Finish(std::chrono::milliseconds patience) {
    finished_ = true;
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto drained = [&] { return s.lines.empty() && !s.writing; };
    for (unsigned long seen = s.batches; !drained(); seen = s.batches) {
        if (!s.changed.wait_for(lock, patience, [&] { return drained() || s.batches != seen; })) {
            break;
        }
    }
    s.ending = true;
    s.changed.notify_all();
}

}  // namespace ktutils::tool
