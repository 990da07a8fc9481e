#include "download/SegmentScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using vantorel::download::ByteInterval;
using vantorel::download::SchedulerSettings;
using vantorel::download::SegmentScheduler;
using Kind = SegmentScheduler::Work::Kind;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

// Workers driven by hand on a clock of our own; every byte they write is counted.
class Simulation {
  public:
    Simulation(std::uint64_t length, unsigned workers, SchedulerSettings settings,
               std::vector<ByteInterval> complete = {})
        : scheduler(length, workers, settings, complete), written(length, 0), at(workers),
          busy(workers, false) {
        for (const ByteInterval& i : complete)
            for (std::uint64_t b = i.begin; b < std::min(i.end, length); ++b)
                written[b] = 1;
    }

    Kind ask(unsigned w) {
        const auto work = scheduler.next(w, now);
        if (work.kind == Kind::Fetch) {
            EXPECT_FALSE(work.range.empty());
            at[w] = work.range.begin;
            busy[w] = true;
            last = work.range;
        }
        return work.kind;
    }

    // The worker receives `bytes`; false when its range has ended.
    bool receive(unsigned w, std::uint64_t bytes) {
        const ByteInterval granted = scheduler.claim(w, bytes);
        EXPECT_EQ(granted.begin, at[w]);
        for (std::uint64_t b = granted.begin; b < granted.end; ++b)
            ++written[b];
        scheduler.wrote(w, granted.size(), now);
        at[w] = granted.end;
        if (granted.size() < bytes || scheduler.check(w, now).ended)
            busy[w] = false;
        return busy[w];
    }

    SegmentScheduler scheduler;
    std::vector<unsigned char> written;
    std::vector<std::uint64_t> at; // each worker's next byte
    std::vector<bool> busy;
    ByteInterval last; // the range handed out last
    SegmentScheduler::TimePoint now{};
};

bool everyByteOnce(const std::vector<unsigned char>& written) {
    return std::all_of(written.begin(), written.end(), [](unsigned char n) { return n == 1; });
}

TEST(SegmentScheduler, RandomReportsStealsAndGiveUpsTileTheFileExactly) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 random(seed);
        auto pick = [&](std::uint64_t lo, std::uint64_t hi) {
            return std::uniform_int_distribution<std::uint64_t>(lo, hi)(random);
        };
        const std::uint64_t length = pick(1, 2 * MiB);
        const auto workers = static_cast<unsigned>(pick(1, 8));
        SchedulerSettings settings;
        settings.minPiece = pick(1, 128 * KiB);
        settings.measureAfter = 20ms;
        settings.speedWindow = 200ms;
        settings.slowTail = 10ms;
        std::vector<ByteInterval> resumed;
        if (seed % 3 == 0)
            for (int i = 0; i < 4; ++i) {
                const std::uint64_t begin = pick(0, length - 1);
                resumed.push_back({begin, begin + pick(1, length / 4 + 1)});
            }
        Simulation sim(length, workers, settings, resumed);
        std::vector<std::uint64_t> pace(workers);
        for (auto& p : pace)
            p = pick(0, 3) == 0 ? pick(1, 2 * KiB) : pick(16 * KiB, 64 * KiB);

        for (int step = 0; step < 2'000'000 && !sim.scheduler.finished(); ++step) {
            sim.now += std::chrono::milliseconds(pick(0, 3));
            const auto w = static_cast<unsigned>(pick(0, workers - 1));
            if (!sim.busy[w]) {
                // Every cut a steal makes leaves its owner nothing or at least the minimum piece;
                // the thief gets at least the minimum piece unless it took the owner's whole rest.
                std::vector<std::uint64_t> endsBefore(workers);
                for (unsigned o = 0; o < workers; ++o)
                    endsBefore[o] = sim.scheduler.check(o, sim.now).end;
                if (sim.ask(w) != Kind::Fetch)
                    continue;
                for (unsigned o = 0; o < workers; ++o) {
                    const auto end = sim.scheduler.check(o, sim.now).end;
                    if (o == w || !sim.busy[o] || end == endsBefore[o])
                        continue;
                    ASSERT_EQ(end, sim.last.begin);
                    ASSERT_TRUE(end == sim.at[o] || end - sim.at[o] >= settings.minPiece);
                    ASSERT_TRUE(end == sim.at[o] || sim.last.size() >= settings.minPiece);
                }
            } else if (pick(0, 200) == 0) {
                sim.scheduler.giveUp(w);
                sim.busy[w] = false;
            } else {
                sim.receive(w, pick(1, pace[w]));
            }
        }
        ASSERT_TRUE(sim.scheduler.finished());
        EXPECT_TRUE(everyByteOnce(sim.written));
        EXPECT_EQ(sim.scheduler.complete(), (std::vector<ByteInterval>{{0, length}}));
        for (unsigned w = 0; w < workers; ++w)
            EXPECT_EQ(sim.scheduler.next(w, sim.now).kind, Kind::Finished);
    }
}

TEST(SegmentScheduler, ARangeTooSmallToSplitIsLeftToItsOwner) {
    SchedulerSettings settings;
    settings.minPiece = 1 * MiB;
    Simulation sim(3 * MiB, 2, settings);
    ASSERT_EQ(sim.ask(0), Kind::Fetch);
    EXPECT_EQ(sim.last, (ByteInterval{0, 1536 * KiB}));
    ASSERT_EQ(sim.ask(1), Kind::Fetch);
    sim.receive(0, 512 * KiB);
    EXPECT_FALSE(sim.receive(1, 1536 * KiB));
    EXPECT_EQ(sim.ask(1), Kind::Wait); // worker 0 has 1 MiB left: no two pieces of 1 MiB
    EXPECT_FALSE(sim.receive(0, 1 * MiB));
    EXPECT_EQ(sim.ask(1), Kind::Finished);
    EXPECT_TRUE(everyByteOnce(sim.written));
}

TEST(SegmentScheduler, AWaitingWorkerWakesWhenTheLastRangeEnds) {
    SchedulerSettings settings;
    settings.minPiece = 1 * MiB;
    Simulation sim(2 * MiB, 2, settings);
    ASSERT_EQ(sim.ask(0), Kind::Fetch);
    ASSERT_EQ(sim.ask(1), Kind::Fetch);
    EXPECT_FALSE(sim.receive(1, 1 * MiB));
    const SegmentScheduler::Work wait = sim.scheduler.next(1, sim.now);
    ASSERT_EQ(wait.kind, Kind::Wait);
    // Without the wake the waiter would sleep for an hour, whichever of the two comes first.
    std::jthread waiter([&] { sim.scheduler.waitForChange(wait, 1h); });
    EXPECT_FALSE(sim.receive(0, 1 * MiB));
    waiter.join();
    EXPECT_EQ(sim.ask(1), Kind::Finished);
}

// Three workers fetch 1 MiB each; the first two at 800 KiB/s. The third runs at `slowPace` (bytes
// per 50 ms) until the first has finished and asks for more.
ByteInterval stealFromThird(std::uint64_t slowPace, Simulation& sim) {
    for (unsigned w = 0; w < 3; ++w)
        EXPECT_EQ(sim.ask(w), Kind::Fetch);
    while (sim.busy[0]) {
        sim.now += 50ms;
        sim.receive(0, 40 * KiB);
        sim.receive(1, 40 * KiB);
        sim.receive(2, slowPace);
    }
    EXPECT_EQ(sim.ask(0), Kind::Fetch);
    return sim.last;
}

TEST(SegmentScheduler, ASlowConnectionGivesAllOfItsRestToAnIdleWorker) {
    SchedulerSettings settings;
    settings.minPiece = 32 * KiB;
    settings.measureAfter = 100ms;
    settings.speedWindow = 1s;

    Simulation slow(3 * MiB, 3, settings);
    const ByteInterval taken = stealFromThird(2560, slow); // 50 KiB/s
    EXPECT_EQ(taken, (ByteInterval{slow.at[2], 3 * MiB}));
    EXPECT_TRUE(slow.scheduler.check(2, slow.now).ended);
    EXPECT_FALSE(slow.receive(2, 1));
    EXPECT_EQ(slow.at[2], taken.begin);

    // Half as fast as the others is not slow: the rest is split so that all three end
    // together, each idle worker taking two fifths of it and the owner keeping a fifth.
    Simulation slower(3 * MiB, 3, settings);
    const ByteInterval split = stealFromThird(20 * KiB, slower);
    const std::uint64_t rest = 3 * MiB - slower.at[2];
    const auto progress = slower.scheduler.check(2, slower.now);
    EXPECT_FALSE(progress.ended);
    EXPECT_EQ(progress.end, split.begin);
    EXPECT_EQ(split.end, 3 * MiB);
    EXPECT_NEAR(static_cast<double>(split.size()), rest * 0.4, rest * 0.05);
    EXPECT_EQ(slower.ask(1), Kind::Fetch);
    EXPECT_NEAR(static_cast<double>(slower.last.size()), rest * 0.4, rest * 0.05);
    EXPECT_NEAR(static_cast<double>(slower.scheduler.check(2, slower.now).end - slower.at[2]),
                rest * 0.2, rest * 0.05);
}

// A mirror that trickles beside a fast address: five connections at 4 KB/s, three at 1 MiB/s.
// The median connection is a trickling one, yet the first idle fast worker takes all a trickling
// connection has not received, its request under way included.
TEST(SegmentScheduler, ATricklingConnectionHandsItsRequestAndRestToAnIdleFastWorker) {
    SchedulerSettings settings;
    settings.minPiece = 64 * KiB;
    Simulation sim(8 * MiB, 8, settings);
    std::vector<std::uint64_t> ends;
    for (unsigned w = 0; w < 8; ++w) {
        ASSERT_EQ(sim.ask(w), Kind::Fetch);
        ends.push_back(sim.last.end);
        if (w >= 3) {
            EXPECT_EQ(sim.scheduler.reserve(w, 128 * KiB).size(), 128 * KiB);
        }
    }
    while (sim.busy[0]) {
        sim.now += 50ms;
        for (unsigned w = 0; w < 8; ++w)
            if (sim.busy[w])
                sim.receive(w, w < 3 ? 50 * KiB : 200);
    }
    ASSERT_EQ(sim.ask(0), Kind::Fetch);
    std::vector<unsigned> handed;
    for (unsigned w = 3; w < 8; ++w)
        if (sim.scheduler.check(w, sim.now).ended)
            handed.push_back(w);
    ASSERT_EQ(handed.size(), 1u);
    const unsigned trickler = handed.front();
    EXPECT_EQ(sim.last, (ByteInterval{sim.at[trickler], ends[trickler]}));
    EXPECT_FALSE(sim.receive(trickler, 200));
    EXPECT_EQ(sim.at[trickler], sim.last.begin);
}

// A small file is over before a range has run for long: the slow connection is judged by the
// time its bytes have flowed, so the idle workers take its rest instead of waiting for it.
TEST(SegmentScheduler, ASmallFilesSlowConnectionIsFoundOnceItsBytesHaveFlowed) {
    Simulation sim(2 * MiB, 4, SchedulerSettings{});
    for (unsigned w = 0; w < 4; ++w)
        ASSERT_EQ(sim.ask(w), Kind::Fetch);
    const auto step = [&] {
        sim.now += 10ms;
        for (unsigned w = 0; w < 3; ++w)
            if (sim.busy[w])
                sim.receive(w, 80 * KiB); // 8 MiB/s
        sim.receive(3, 5 * KiB);          // 512 KiB/s
    };
    while (sim.busy[0])
        step();
    EXPECT_EQ(sim.ask(0), Kind::Wait); // its bytes have flowed for under 100 ms
    while (sim.now < SegmentScheduler::TimePoint{} + 110ms)
        step();
    ASSERT_EQ(sim.ask(0), Kind::Fetch);
    EXPECT_EQ(sim.last, (ByteInterval{sim.at[3], 2 * MiB}));
    EXPECT_TRUE(sim.scheduler.check(3, sim.now).ended);
}

TEST(SegmentScheduler, ResumesFromCompleteIntervalsAndFetchesOnlyTheHoles) {
    SchedulerSettings settings;
    settings.minPiece = 32 * KiB;
    constexpr std::uint64_t U = 64 * KiB;
    const std::vector<ByteInterval> done{{3 * U, 4 * U}, {0, 1 * U}, {2 * U, 3 * U + 9}};
    Simulation sim(10 * U, 4, settings, done);
    EXPECT_EQ(sim.scheduler.completeBytes(), 3 * U);
    EXPECT_EQ(sim.scheduler.complete(), (std::vector<ByteInterval>{{0, 1 * U}, {2 * U, 4 * U}}));
    std::vector<ByteInterval> handed;
    for (unsigned w = 0; w < 4; ++w) {
        ASSERT_EQ(sim.ask(w), Kind::Fetch);
        handed.push_back(sim.last);
    }
    EXPECT_EQ(handed.front(), (ByteInterval{1 * U, 2 * U}));
    EXPECT_EQ(handed.back().end, 10 * U);
    for (std::size_t i = 2; i < handed.size(); ++i)
        EXPECT_EQ(handed[i].begin, handed[i - 1].end);
    for (unsigned w = 0; w < 4; ++w)
        while (sim.receive(w, 4 * KiB)) {
        }
    EXPECT_TRUE(everyByteOnce(sim.written));
    EXPECT_EQ(sim.scheduler.complete(), (std::vector<ByteInterval>{{0, 10 * U}}));

    const std::vector<ByteInterval> whole{{0, 10 * U}};
    SegmentScheduler nothingLeft(10 * U, 4, settings, whole);
    EXPECT_EQ(nothingLeft.next(0, {}).kind, Kind::Finished);
}

TEST(SegmentScheduler, AConnectionUnderTheSpeedFloorIsToldToReplaceItself) {
    SchedulerSettings settings;
    settings.speedFloor = 1000;
    settings.floorTime = 1s;
    Simulation sim(1 * MiB, 2, settings);
    sim.ask(0);
    sim.ask(1);
    sim.now += 500ms;
    sim.receive(0, 100);
    sim.receive(1, 1500);
    sim.now += 500ms;
    EXPECT_TRUE(sim.scheduler.check(0, sim.now).replaceConnection);
    EXPECT_FALSE(sim.scheduler.check(1, sim.now).replaceConnection);
    sim.scheduler.reconnected(0, sim.now);
    EXPECT_FALSE(sim.scheduler.check(0, sim.now).replaceConnection);
}

// A connection at an eighth of the others' speed with most of its range left gives way to a new
// one, once it has run for a while; a new connection gets that while of its own.
TEST(SegmentScheduler, ASlowConnectionWithMuchLeftIsToldToReplaceItself) {
    SchedulerSettings settings;
    settings.measureAfter = 100ms;
    settings.speedWindow = 2s;
    settings.replaceAfter = 1s;
    Simulation sim(9 * MiB, 3, settings);
    for (unsigned w = 0; w < 3; ++w)
        sim.ask(w);
    const auto run = [&](std::chrono::milliseconds time) {
        for (auto at = 0ms; at < time; at += 50ms) {
            sim.now += 50ms;
            sim.receive(0, 40 * KiB);
            sim.receive(1, 40 * KiB);
            sim.receive(2, 5 * KiB);
        }
    };
    run(500ms);
    EXPECT_FALSE(sim.scheduler.check(2, sim.now).replaceConnection);
    run(600ms);
    EXPECT_TRUE(sim.scheduler.check(2, sim.now).replaceConnection);
    EXPECT_FALSE(sim.scheduler.check(0, sim.now).replaceConnection);
    sim.scheduler.reconnected(2, sim.now);
    EXPECT_FALSE(sim.scheduler.check(2, sim.now).replaceConnection);
}

TEST(SegmentScheduler, ConcurrentWorkersWriteEveryByteOnce) {
    constexpr std::uint64_t length = 4 * MiB;
    SchedulerSettings settings;
    settings.minPiece = 16 * KiB;
    settings.measureAfter = 5ms;
    settings.speedWindow = 50ms;
    SegmentScheduler scheduler(length, 4, settings);
    std::vector<std::vector<ByteInterval>> written(4); // by each worker
    std::vector<std::jthread> threads;
    for (unsigned w = 0; w < 4; ++w)
        threads.emplace_back([&, w] {
            std::mt19937 random(w);
            for (;;) {
                const auto work = scheduler.next(w, SegmentScheduler::Clock::now());
                if (work.kind == Kind::Finished)
                    return;
                if (work.kind == Kind::Wait) {
                    std::this_thread::sleep_for(1ms);
                    continue;
                }
                for (;;) {
                    const ByteInterval got = scheduler.claim(w, 1 + random() % (8 * KiB));
                    if (got.empty())
                        break;
                    written[w].push_back(got);
                    scheduler.wrote(w, got.size(), SegmentScheduler::Clock::now());
                    if (w == 3)
                        std::this_thread::sleep_for(200us); // one slow connection
                }
            }
        });
    threads.clear();
    std::vector<ByteInterval> all;
    for (const auto& mine : written)
        all.insert(all.end(), mine.begin(), mine.end());
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
    std::uint64_t at = 0;
    for (const ByteInterval& i : all) {
        ASSERT_EQ(i.begin, at); // no gap, no overlap
        at = i.end;
    }
    EXPECT_EQ(at, length);
    EXPECT_EQ(scheduler.complete(), (std::vector<ByteInterval>{{0, length}}));
}

} // namespace
