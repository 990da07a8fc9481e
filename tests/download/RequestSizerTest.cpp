#include "download/RequestSizer.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vantorel::download::RequestSizer;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr double MB = 1e6;

// A connection on a clock of our own: every reply's first byte comes `wait` after its request,
// then its body flows at `speed` bytes a second.
struct Connection {
    RequestSizer sizer;
    RequestSizer::Clock::time_point now{};

    std::uint64_t request(std::chrono::duration<double> wait, double speed) {
        const std::uint64_t bytes = sizer.next();
        const auto sent = now;
        const auto first = sent + std::chrono::duration_cast<RequestSizer::Clock::duration>(wait);
        now = first + std::chrono::duration_cast<RequestSizer::Clock::duration>(
                          std::chrono::duration<double>(static_cast<double>(bytes) / speed));
        sizer.answered(sent, first, now, bytes);
        return bytes;
    }
};

// Waits of 150 ms before each reply: requests grow within a few to where the wait is a tenth of
// their time, by the speed while the body flows (2 MB/s, not the lower average over the waits).
TEST(RequestSizer, FarServerGrowsUntilTheWaitIsATenth) {
    Connection far;
    for (int i = 0; i < 3; ++i)
        far.request(150ms, 2 * MB);
    EXPECT_NEAR(static_cast<double>(far.sizer.next()), 2 * MB * 1.35, 0.05 * MB);
}

// Next to the server the wait is nothing: requests take about 150 ms of the speed, grow at
// most fourfold a request, and never pass the largest request.
TEST(RequestSizer, NearServerAsksAboutTheShortestTime) {
    Connection near;
    EXPECT_EQ(near.request(0ms, 8 * MB), 128 * KiB);
    EXPECT_EQ(near.sizer.next(), 512 * KiB);
    for (int i = 0; i < 5; ++i)
        near.request(0ms, 8 * MB);
    EXPECT_NEAR(static_cast<double>(near.sizer.next()), 8 * MB * 0.15, 0.05 * MB);

    Connection fast;
    for (int i = 0; i < 10; ++i)
        fast.request(0ms, 2000 * MB);
    EXPECT_EQ(fast.sizer.next(), std::uint64_t{32} << 20);
}

// A server that holds a reply back: the least wait seen counts, and a connection whose every
// reply is held still asks no more than 3 s of its speed.
TEST(RequestSizer, HeldRepliesDoNotMakeRequestsLonger) {
    Connection held;
    for (int i = 0; i < 3; ++i)
        held.request(150ms, 2 * MB);
    const std::uint64_t before = held.sizer.next();
    held.request(2s, 2 * MB);
    EXPECT_NEAR(static_cast<double>(held.sizer.next()), static_cast<double>(before), 0.05 * MB);

    Connection always;
    for (int i = 0; i < 6; ++i)
        always.request(5s, 512 * 1024.0);
    EXPECT_NEAR(static_cast<double>(always.sizer.next()), 3 * 512 * 1024.0, 0.05 * MB);
}

} // namespace
