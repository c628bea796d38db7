#include "tools/net/sink_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ktutils::tool {

struct SinkWriter::Shared {
    int fd;
    Options options;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> records;
    std::size_t queued = 0;  // bytes in `records`
    // Records dropped since the queue overflowed; until the thread has
    // written everything queued, every record is dropped.
    bool dropping = false;
    unsigned long dropped = 0;
    unsigned long long droppedBytes = 0;
    // The batch the thread is writing: records and bytes.
    unsigned long inFlight = 0;
    unsigned long long inFlightBytes = 0;
    unsigned long batches = 0;  // written so far: the output's progress
    bool ending = false;
    bool failed = false;
    bool lost = false;
};

namespace {

std::string Amount(unsigned long count, unsigned long long bytes, const std::string& unit) {
    return std::to_string(count) + " " + unit + " (" + std::to_string(bytes) + " bytes)";
}

// Written by the thread alone, outside the lock: standard error may be a
// pipe that stalls too, and the caller must never wait for it.
void Tell(const SinkWriter::Shared& s, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", s.options.who.c_str(), text.c_str());
}

// Bytes written before a failure, and its errno (0 when all went out).
std::size_t WriteAll(int fd, const std::string& text, int& error) {
    std::size_t done = 0;
    error = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// A regular file keeps only whole records, so that a reader of the file
// (dump of a capture) finds it well-formed up to where the output failed.
void CutToWhole(int fd, std::size_t partial) {
    struct stat status {};
    if (partial == 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end >= static_cast<off_t>(partial)) {
        [[maybe_unused]] const int cut = ftruncate(fd, end - static_cast<off_t>(partial));
    }
}

void Run(const std::shared_ptr<SinkWriter::Shared>& s) {
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
        s->changed.wait(lock, [&] { return !s->records.empty() || s->dropping || s->ending; });
        if (s->records.empty() && s->dropping) {
            // Caught up: the episode of drops is over and told once.
            const std::string told = Amount(s->dropped, s->droppedBytes, s->options.unit);
            if (s->options.dropNotice) {
                std::string notice = s->options.dropNotice(s->dropped);
                s->queued += notice.size();
                s->records.push_back(std::move(notice));
            }
            s->dropping = false;
            s->dropped = 0;
            s->droppedBytes = 0;
            if (!s->options.dropNotice) {
                lock.unlock();
                Tell(*s, told + " dropped: the output did not keep up");
                lock.lock();
            }
            continue;
        }
        if (s->records.empty()) break;  // ending

        std::string batch;
        std::vector<std::size_t> sizes;
        for (std::string& record : s->records) {
            batch += record;
            sizes.push_back(record.size());
        }
        s->records.clear();
        s->queued = 0;
        s->inFlight = sizes.size();
        s->inFlightBytes = batch.size();
        lock.unlock();
        int error = 0;
        const std::size_t done = WriteAll(s->fd, batch, error);
        std::size_t whole = 0, wholeCount = 0;
        for (const std::size_t size : sizes) {
            if (whole + size > done) break;
            whole += size;
            ++wholeCount;
        }
        if (error != 0) CutToWhole(s->fd, done - whole);
        lock.lock();
        s->inFlight = 0;
        s->inFlightBytes = 0;
        ++s->batches;
        if (error != 0) {
            s->failed = true;
            s->lost = true;
            const unsigned long count = sizes.size() - wholeCount + s->records.size() + s->dropped;
            const unsigned long long bytes = batch.size() - whole + s->queued + s->droppedBytes;
            s->records.clear();
            s->queued = 0;
            s->dropping = false;
            s->changed.notify_all();
            lock.unlock();
            Tell(*s, std::string(std::strerror(error)) + ": " + Amount(count, bytes, s->options.unit) +
                         " lost; nothing more is written there");
            lock.lock();
            break;
        }
        s->changed.notify_all();
    }
    if (s->options.ownsFd) close(s->fd);
}

}  // namespace

SinkWriter::SinkWriter(int fd, Options options) : shared_(std::make_shared<Shared>()) {
    shared_->fd = fd;
    shared_->options = std::move(options);
    // The stop signals go to the caller's thread, whose wait they must end.
    // A reader gone (SIGPIPE) or a file size limit (SIGXFSZ) must not end
    // the process: blocked here, they come back to this thread's write as
    // EPIPE and EFBIG.
    sigset_t block, old;
    sigemptyset(&block);
    for (const int signal : {SIGINT, SIGTERM, SIGPIPE, SIGXFSZ}) sigaddset(&block, signal);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    std::thread(Run, shared_).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

SinkWriter::~SinkWriter() {
    if (!finished_) Finish(std::chrono::milliseconds(0));
}

void SinkWriter::Write(std::string record) {
    Shared& s = *shared_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.failed || s.ending) return;
    if (s.dropping || s.queued + record.size() > s.options.limit) {
        s.dropping = true;
        s.lost = true;
        ++s.dropped;
        s.droppedBytes += record.size();
        if (s.records.empty()) s.changed.notify_all();  // an idle thread ends the episode
        return;
    }
    s.queued += record.size();
    s.records.push_back(std::move(record));
    s.changed.notify_all();
}

void SinkWriter::Finish(std::chrono::milliseconds patience) {
    finished_ = true;
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto drained = [&] { return s.failed || (s.records.empty() && s.inFlight == 0 && !s.dropping); };
    for (unsigned long seen = s.batches; !drained(); seen = s.batches) {
        if (!s.changed.wait_for(lock, patience, [&] { return drained() || s.batches != seen; })) {
            break;
        }
    }
    s.ending = true;
    s.changed.notify_all();
    if (drained()) return;
    s.lost = true;
    const std::string told =
        Amount(s.records.size() + s.inFlight + s.dropped, s.queued + s.inFlightBytes + s.droppedBytes,
               s.options.unit);
    lock.unlock();
    // The thread may be stuck in a write for good: this thread tells.
    Tell(s, told + " not written: the output did not take them in time");
}

bool SinkWriter::Failed() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->failed;
}

bool SinkWriter::Lost() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lost;
}

}  // namespace ktutils::tool
