#pragma once
// One speed limit for every download of the program (the list's, a command's, the update's):
// a token bucket that each worker of each download draws from before it writes what it read. A
// worker that finds the bucket empty waits in its write callback, so its connection stops
// reading and the server slows down with it. The downloads share one object, so together they
// stay within the rate, and a new rate applies at once to the ones running.
//
// Bytes are drawn in pieces of at most kPieceBytes, each written as soon as it is paid for:
// the bytes of a download under the limit go on arriving, a piece at a time, instead of a whole
// read buffer after a long silence. The bucket holds at most kBurst of the rate, so over any span
// the downloads stay within the limit plus that much: over 10 s, within 2.5 %.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vantorel::download {

class SpeedLimit {
  public:
    static constexpr std::chrono::milliseconds kBurst{250};
    static constexpr std::uint64_t kPieceBytes = 16 << 10;
    static constexpr std::chrono::milliseconds kSlice{100};

    // 0: no limit.
    explicit SpeedLimit(std::uint64_t bytesPerSecond = 0) : rate_(bytesPerSecond) {}

    bool limited() const { return rate() > 0; }
    std::uint64_t rate() const { return rate_.load(std::memory_order_relaxed); }
    // Applies from the next piece drawn on; 0 lifts the limit.
    void setRate(std::uint64_t bytesPerSecond);

    // Waits until the next piece of `bytes` (at most kPieceBytes) may pass and returns its size.
    // `wait` sleeps for the time it is given and says whether the download is still running;
    // false from it ends the wait early (and this returns 0).
    std::uint64_t take(std::uint64_t bytes,
                       const std::function<bool(std::chrono::nanoseconds)>& wait);

    // Draws all of `bytes`, piece by piece, calling `each(offset, size)` for each piece as soon
    // as it is paid for; false when `wait` or `each` said stop.
    template <class Pass>
    bool pass(std::uint64_t bytes, const std::function<bool(std::chrono::nanoseconds)>& wait,
              Pass each) {
        for (std::uint64_t done = 0; done < bytes;) {
            const std::uint64_t piece = take(bytes - done, wait);
            if (piece == 0 || !each(done, piece))
                return false;
            done += piece;
        }
        return true;
    }

  private:
    using Clock = std::chrono::steady_clock;
    std::atomic<std::uint64_t> rate_;
    std::atomic<std::uint64_t> changes_{0}; // setRate() calls: a wait at an old rate ends
    std::mutex mutex_;
    Clock::time_point next_{}; // when the bytes taken so far have all been paid for
};

} // namespace vantorel::download
