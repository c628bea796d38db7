#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    int fds[2];
};

// Both ways of waiting see the same readiness: the server may run on either.
class EventPollerTest : public ::testing::TestWithParam<EventPoller::Backend> {};

TEST_P(EventPollerTest, ReportsOnlyWhatIsWatchedAndReady) {
    EventPoller poller(GetParam());
    Pipe p;
    poller.Watch(p.fds[0], true, false);
    poller.Watch(p.fds[1], false, true);
    auto ready = poller.Wait(0);
    ASSERT_EQ(ready.size(), 1u);  // an empty pipe: only its write end is ready
    EXPECT_EQ(ready[0].fd, p.fds[1]);
    EXPECT_TRUE(ready[0].writable);
    ASSERT_EQ(write(p.fds[1], "x", 1), 1);
    poller.Watch(p.fds[1], false, false);  // watching nothing is forgetting
    ready = poller.Wait(1000);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].fd, p.fds[0]);
    EXPECT_TRUE(ready[0].readable);
    poller.Forget(p.fds[0]);
    EXPECT_TRUE(poller.Wait(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, EventPollerTest,
                         ::testing::Values(EventPoller::kBest, EventPoller::Backend::Poll),
                         [](const auto& info) { return info.param == EventPoller::Backend::Poll ? "Poll" : "Epoll"; });

std::string ReadAvailable(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string text;
    char piece[4096];
    for (int quiet = 0; quiet < 20;) {
        const ssize_t n = read(fd, piece, sizeof piece);
        quiet = n > 0 ? 0 : quiet + 1;
        if (n > 0) text.append(piece, static_cast<std::size_t>(n));
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

TEST(LogWriter, NeverWaitsForAStalledOutputAndCountsWhatItDropped) {
    Pipe p;
    const std::string line(1000, 'a');
    LogWriter log(p.fds[1], [](unsigned long n) { return "dropped " + std::to_string(n) + "\n"; }, 8 * 1024);
    for (int i = 0; i < 200; ++i) log.Write(line + "\n");  // far past the pipe and the queue: must not block
    std::string text = ReadAvailable(p.fds[0]);
    log.Write("last\n");
    log.Finish(std::chrono::milliseconds(1000));
    text += ReadAvailable(p.fds[0]);
    // Every line is whole, "last" comes last, and the notices account for every line not written.
    unsigned long written = 0, dropped = 0;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string got = text.substr(at, end - at);
        if (got == line) ++written;
        else if (got.rfind("dropped ", 0) == 0) dropped += std::stoul(got.substr(8));
        else EXPECT_TRUE(got == "last" && end + 1 == text.size()) << got;
    }
    EXPECT_EQ(at, text.size());
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(written + dropped, 200u);
}

}  // namespace
}  // namespace ktutils::tool
