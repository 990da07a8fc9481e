#include "download/RequestSizer.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vantorel::download::RequestSizer;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr double MB = 1e6;

// A request on a connection whose replies come `wait` after the request and then flow at `speed`
// bytes a second.
std::uint64_t request(RequestSizer& sizer, RequestSizer::Seconds wait, double speed) {
    const std::uint64_t bytes = sizer.next();
    sizer.answered(wait, RequestSizer::Seconds(static_cast<double>(bytes) / speed), bytes);
    return bytes;
}

// Next to the server: requests of about 150 ms of the speed while the body flows, grown at most
// twofold a request, never past the largest request.
TEST(RequestSizer, NearServerAsksAboutAShortTime) {
    RequestSizer near;
    EXPECT_EQ(request(near, 5ms, 8 * MB), 128 * KiB);
    EXPECT_EQ(near.next(), 256 * KiB);
    for (int i = 0; i < 5; ++i)
        request(near, 10ms, 8 * MB);
    EXPECT_FALSE(near.openEnded());
    EXPECT_NEAR(static_cast<double>(near.next()), 8 * MB * 0.15, 0.05 * MB);

    RequestSizer fast;
    for (int i = 0; i < 10; ++i)
        request(fast, 0ms, 2000 * MB);
    EXPECT_EQ(fast.next(), std::uint64_t{32} << 20);
}

// A wait that would be more than a tenth of such a request's time makes the requests open-ended;
// a server that holds its later replies back does not, as the least wait counts.
TEST(RequestSizer, FarServerAsksOpenEndedHeldRepliesDoNot) {
    RequestSizer far;
    EXPECT_FALSE(far.openEnded());
    request(far, 150ms, 2 * MB);
    EXPECT_TRUE(far.openEnded());

    RequestSizer held;
    request(held, 1ms, 2 * MB);
    for (int i = 0; i < 3; ++i)
        request(held, 2s, 2 * MB);
    EXPECT_FALSE(held.openEnded());
}

} // namespace
