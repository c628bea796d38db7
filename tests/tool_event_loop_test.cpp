#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tools/event_poller.h"
#include "tools/log_writer.h"

namespace ktutils::tool {
namespace {

struct Pipe {
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() { close(fds[0]), close(fds[1]); }
    // What the pipe holds once nothing more comes for 200 ms.
    std::string Drain() {
        std::string text;
        char piece[4096];
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        for (int quiet = 0; quiet < 20; ++quiet) {
            for (ssize_t n; (n = read(fds[0], piece, sizeof piece)) > 0; quiet = 0) text.append(piece, size_t(n));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return text;
    }
    int fds[2];
};

// Both ways of waiting see the same readiness: the server may run on either.
class EventPollerTest : public ::testing::TestWithParam<EventPoller::Backend> {};

TEST_P(EventPollerTest, ReportsOnlyWhatIsWatchedAndReady) {
    EventPoller poller(GetParam());
    Pipe p;
    poller.Watch(p.fds[0], true, false);
    poller.Watch(p.fds[1], false, true);
    auto ready = poller.Wait(0);  // an empty pipe: only its write end is ready
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_TRUE(ready[0].fd == p.fds[1] && ready[0].writable && !ready[0].readable);
    ASSERT_EQ(write(p.fds[1], "x", 1), 1);
    poller.Watch(p.fds[1], false, false);  // watching nothing is forgetting
    ready = poller.Wait(1000);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_TRUE(ready[0].fd == p.fds[0] && ready[0].readable && !ready[0].writable);
    poller.Forget(p.fds[0]);
    EXPECT_TRUE(poller.Wait(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, EventPollerTest, ::testing::Values(EventPoller::kBest, EventPoller::Backend::Poll));

TEST(LogWriter, NeverWaitsForAStalledOutputAndCountsWhatItDropped) {
    Pipe p;
    const std::string line(1000, 'a');
    LogWriter log(p.fds[1], [](unsigned long n) { return "dropped " + std::to_string(n) + "\n"; }, 8 * 1024);
    for (int i = 0; i < 200; ++i) log.Write(line + "\n");  // far past the pipe and the queue: must not block
    std::string text = p.Drain();
    log.Write("last\n");
    log.Finish(std::chrono::milliseconds(1000));
    text += p.Drain();
    // Every line is whole, "last" comes last, and the notices account for every line not written.
    unsigned long written = 0, dropped = 0;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string got = text.substr(at, end - at);
        if (got.rfind("dropped ", 0) == 0) dropped += std::stoul(got.substr(8));
        else if (got == line) ++written;
        else EXPECT_TRUE(got == "last" && end + 1 == text.size()) << got;
    }
    EXPECT_EQ(at, text.size());
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(written + dropped, 200u);
}

}  // namespace
}  // namespace ktutils::tool
