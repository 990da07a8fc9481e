#pragma once
// Decides which bytes each connection of a download fetches, so that the download ends when the
// fast connections could end it, not when the slowest one does.
//
// The file's byte space is held as: bytes complete, pieces waiting for a worker, and one range
// per busy worker (first byte, the byte it has reached, its end). Ranges are handed out whole
// at first; when a worker runs out of work it takes part of another worker's range:
//
// - Stealing. The idle worker takes the back part of the range that would take longest to
//   finish (its remainder divided by its owner's speed; with equal speeds, the largest range).
//   The split point lies beyond the byte the owner has reached and divides the remainder in
//   proportion to the two connections' speeds, so both end together: the back half when they
//   are equally fast. Neither part may be smaller than `minPiece`; a range too small to split
//   is left to its owner. Nor does the idle worker take more than its part of all that is left
//   (by the speeds of all connections): at the end several idle workers come one after
//   another, and each then takes an even share instead of half of what the last one took.
// - Slow connections. A connection is slow when its speed is under `slowFraction` of the
//   median speed of the other connections, or of the download's speed per connection (when
//   most connections crawl, as those of a trickling mirror beside one fast address do, the
//   median is one of them). A slow connection whose remainder would take it at least `slowTail`
//   longer than the idle worker's connection (of median speed while that one is not measured)
//   gives all of its remainder to the idle worker (the minimum piece does not apply, since it is
//   left nothing to fetch). Its request under way goes too, when waiting for that request alone
//   would cost `cutTail`: the owner stops at the byte it has reached, losing its connection and
//   the bytes on the way, rather than the download waiting on it. An idle worker whose own
//   connection is slow gets no share it could not finish in step.
// - Speed floor. A connection that brings fewer than `speedFloor` bytes per second over a
//   stretch of `floorTime` is told to replace itself (drop the connection, open a new one, and
//   go on with its range); see Progress::replaceConnection. So is a slow connection (as above)
//   that has run for `replaceAfter` while its remainder would take it at least `slowTail` longer
//   than a connection of median speed: a service that throttles some of its connections is
//   likely to give a new one the others' speed.
// - Giving up. A worker that gives up its range after its retries hands the remainder back; the
//   next idle worker takes it (preferring pieces it did not give up itself).
//
// Speeds are measured from the bytes each worker reports, over the last `speedWindow`, from the
// range's first bytes on (the wait for them is the request's cost, not the connection's speed):
// a new range is judged by its worker's last measured speed until its bytes have flowed for
// `settleAfter`. A range with no bytes after `measureAfter` is measured at nothing. A worker
// keeps its speed between ranges because it keeps its connection.
//
// A worker asks for the front of its range in requests: reserve() marks the bytes a request
// asks for, which splits leave to it, and claim() hands over bytes as they arrive. Nothing is
// fetched twice, except bytes already in flight when a range is cut short: the owner learns its
// new end from claim() or check() and must stop there. Ending an HTTP/1.1
// reply before its end costs the owner its connection, so a cut owner reconnects for its next
// range (and should call reconnected()).
//
// A download that resumes starts the scheduler from the intervals already complete; complete()
// gives them back at any time, merged, for the resume state. Bytes found wrong after they were
// written (a source that sent another version) are taken back with fetchAgain() and handed out
// again like any waiting piece.
//
// Thread safety: one mutex guards all state and every public member takes it; each call is
// short (O(workers) at most). Each worker index belongs to one thread at a time. Time is passed
// in by the caller, so tests drive the clock.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vantorel::download {

// Half-open byte interval [begin, end).
struct ByteInterval {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;

    std::uint64_t size() const { return end - begin; }
    bool empty() const { return end <= begin; }
    bool operator==(const ByteInterval&) const = default;
};

struct SchedulerSettings {
    // No piece handed out or left with its owner by a split is smaller than this (a request
    // costs a round trip that a tiny piece does not repay).
    std::uint64_t minPiece = 512 * 1024;
    // Speeds are measured over this much of the recent past ...
    std::chrono::milliseconds speedWindow{2000};
    // ... once a range's bytes have flowed this long; before that its worker's last speed
    // stands for it. A small file's slow connection is found while the others are still busy.
    std::chrono::milliseconds settleAfter{100};
    // A range that has brought nothing for this long is measured at nothing.
    std::chrono::milliseconds measureAfter{250};
    // Slow: under this fraction of the median speed of the other connections ...
    double slowFraction = 1.0 / 3;
    // ... and its remainder would take it this much longer than the idle worker's connection.
    std::chrono::milliseconds slowTail{500};
    // A slow connection's request under way is taken over when waiting for it would cost this
    // much more than the idle worker needs for it (a cut costs the connection and the bytes on
    // the way; a trickling mirror's request would cost minutes).
    std::chrono::milliseconds cutTail{2000};
    // A slow connection is replaced (see Speed floor) once it has run this long.
    std::chrono::milliseconds replaceAfter{1000};
    // A connection under this many bytes per second for `floorTime` is replaced.
    double speedFloor = 1024.0;
    std::chrono::milliseconds floorTime{30000};
};

class SegmentScheduler {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // `length` bytes fetched by `workers` workers (indices 0 .. workers-1); `complete` lists
    // intervals already on disk (any order, may overlap; clipped to the file).
    SegmentScheduler(std::uint64_t length, unsigned workers, SchedulerSettings settings = {},
                     std::span<const ByteInterval> complete = {});
    SegmentScheduler(const SegmentScheduler&) = delete;
    SegmentScheduler& operator=(const SegmentScheduler&) = delete;

    struct Work {
        enum class Kind {
            Fetch,    // fetch `range`
            Wait,     // nothing to take now, but ranges are still running: ask again shortly
                      // (a range may yet be given up or turn slow)
            Finished, // every byte is complete
        };
        Kind kind = Kind::Finished;
        ByteInterval range;
        std::uint64_t changes = 0; // Wait: for waitForChange
    };
    // Next work for an idle worker. Call it when the worker starts and whenever its range ends.
    Work next(unsigned worker, TimePoint now);
    // After a Wait: sleeps until a range ends or is given up (either may leave work or finish
    // the download) or `most` passes, so the waiting workers end with the last range rather
    // than a wait later.
    void waitForChange(const Work& wait, std::chrono::milliseconds most);

    // Before a request goes out for the front of what is left of the worker's range: at most
    // `bytes` from the first byte not yet claimed. Splits leave them to the worker while they are
    // on the way, unless its connection is slow (see Slow connections). Claim them as they come.
    ByteInterval reserve(unsigned worker, std::uint64_t bytes);
    // Before copying `bytes` that arrived for the worker's range: where they go and how many of
    // them belong to the range (fewer when it was cut short; none when it has ended). Copy
    // exactly that interval, then report it with wrote().
    ByteInterval claim(unsigned worker, std::uint64_t bytes);
    // The claimed bytes are in the file.
    void wrote(unsigned worker, std::uint64_t bytes, TimePoint now);

    struct Progress {
        std::uint64_t end = 0;          // the worker's range ends here now
        bool ended = false;             // nothing of it is left to fetch: finish the transfer
        bool replaceConnection = false; // under the speed floor or slow: reconnect and go on
    };
    // For a worker between pieces (e.g. from its transfer's progress callback).
    Progress check(unsigned worker, TimePoint now);

    // The worker is on a new connection (after a cut, a failure or a replacement).
    void reconnected(unsigned worker, TimePoint now);
    // ... to another server: its speed on the last one tells nothing of this one.
    void newServer(unsigned worker, TimePoint now);
    // The worker gives up the rest of its range (call it with no claim outstanding).
    void giveUp(unsigned worker);
    // The complete bytes of `interval` are no longer complete: they wait to be fetched again.
    // Bytes of it still to come in a range keep coming there.
    void fetchAgain(ByteInterval interval);
    // Bytes taken back by fetchAgain() so far.
    std::uint64_t takenBack() const;

    // Complete bytes, merged and in order.
    std::vector<ByteInterval> complete() const;
    std::uint64_t completeBytes() const;
    bool finished() const;
    // Pieces waiting for a worker; right after construction, the ranges planned at the start.
    std::size_t waitingPieces() const;

  private:
    // Bytes over time for one worker, sampled coarsely so that many small reports stay cheap.
    struct Meter {
        TimePoint since{};
        std::optional<TimePoint> flowing; // when the first bytes arrived
        std::uint64_t bytes = 0;
        std::deque<std::pair<TimePoint, std::uint64_t>> samples;
        TimePoint floorMark{};
        std::uint64_t floorBytes = 0;
        bool replace = false;
    };
    struct Lane {
        bool busy = false;
        ByteInterval range;         // [first byte of the range, its current end)
        std::uint64_t next = 0;     // first byte not yet written
        std::uint64_t claimed = 0;  // first byte not yet claimed (next <= claimed <= end)
        std::uint64_t reserved = 0; // end of the request under way (<= end), when past claimed
        std::optional<double> rate; // last measured speed, bytes per second
        Meter meter;
    };
    struct Piece {
        ByteInterval range;
        std::optional<unsigned> leftBy; // the worker that gave it up
    };

    Lane& lane(unsigned worker);
    void startMeter(Lane& lane, TimePoint now) const;
    void restartMeter(Lane& lane, TimePoint now) const;
    void sample(Lane& lane, TimePoint now) const;
    std::optional<double> measured(const Lane& lane, TimePoint now) const;
    std::optional<double> estimate(const Lane& lane, TimePoint now) const;
    std::optional<double> medianOfOthers(const Lane* except, TimePoint now) const;
    // What a connection's speed is judged against: the median speed of the others, or the
    // download's speed per connection when that is higher (see Slow connections).
    std::optional<double> yardstick(const Lane& lane, TimePoint now) const;
    // The first byte neither claimed nor reserved: what splits may take from.
    static std::uint64_t promised(const Lane& lane) {
        return std::max(lane.claimed, lane.reserved);
    }
    bool lagging(const Lane& lane, TimePoint now) const;
    void finishRange(Lane& lane, TimePoint now);
    void addComplete(ByteInterval interval);
    std::optional<ByteInterval> steal(unsigned thief, TimePoint now);
    // The most an idle worker takes by splitting a range: its part, by speed, of all that is
    // left (see Stealing).
    std::uint64_t fairShare(std::optional<double> takerSpeed, TimePoint now) const;
    Work assign(Lane& lane, ByteInterval range, TimePoint now);

    const std::uint64_t length_;
    const SchedulerSettings settings_;
    mutable std::mutex mutex_;
    std::vector<Lane> lanes_;
    std::deque<Piece> pool_;         // ordered by first byte
    std::vector<ByteInterval> done_; // complete intervals of finished ranges, merged, in order
    std::uint64_t doneBytes_ = 0;
    std::uint64_t takenBack_ = 0;
    std::uint64_t changes_ = 0; // ranges ended or given up so far
    std::condition_variable changed_;
};

} // namespace vantorel::download
