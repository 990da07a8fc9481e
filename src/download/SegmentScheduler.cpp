#include "download/SegmentScheduler.h"

#include "download/Rate.h"

#include <algorithm>
#include <limits>

namespace vantorel::download {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr double kForever = std::numeric_limits<double>::infinity();

// Adds `interval` to a sorted list of disjoint intervals, merging it with those it touches.
void mergeInto(std::vector<ByteInterval>& list, ByteInterval interval) {
    if (interval.empty())
        return;
    auto first =
        std::lower_bound(list.begin(), list.end(), interval.begin,
                         [](const ByteInterval& i, std::uint64_t at) { return i.end < at; });
    auto last = first;
    while (last != list.end() && last->begin <= interval.end) {
        interval.begin = std::min(interval.begin, last->begin);
        interval.end = std::max(interval.end, last->end);
        ++last;
    }
    list.insert(list.erase(first, last), interval);
}

double secondsFor(std::uint64_t bytes, double bytesPerSecond) {
    return secondsToArrive(bytes, bytesPerSecond).value_or(kForever);
}

std::optional<double> median(std::vector<double> values) {
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace

SegmentScheduler::SegmentScheduler(std::uint64_t length, unsigned workers,
                                   SchedulerSettings settings,
                                   std::span<const ByteInterval> complete)
    : length_(length), settings_(settings), lanes_(std::max(1u, workers)) {
    for (ByteInterval interval : complete) {
        interval.end = std::min(interval.end, length_);
        mergeInto(done_, interval);
    }
    std::vector<ByteInterval> holes;
    std::uint64_t at = 0;
    for (const ByteInterval& interval : done_) {
        doneBytes_ += interval.size();
        if (interval.begin > at)
            holes.push_back({at, interval.begin});
        at = interval.end;
    }
    if (at < length_)
        holes.push_back({at, length_});

    // One piece per worker at first, cut from the holes in near-equal sizes; a hole smaller
    // than a share stays whole.
    const std::uint64_t missing = length_ - doneBytes_;
    if (missing == 0)
        return;
    std::uint64_t count = lanes_.size();
    if (settings_.minPiece > 0)
        count = std::clamp<std::uint64_t>(missing / settings_.minPiece, 1, count);
    const std::uint64_t share = (missing + count - 1) / count;
    for (const ByteInterval& hole : holes) {
        // The nearest whole number of shares (a file that does not divide evenly still gets one
        // piece per worker), never pieces under the minimum.
        std::uint64_t parts = (hole.size() + share / 2) / share;
        if (settings_.minPiece > 0)
            parts = std::min(parts, hole.size() / settings_.minPiece);
        parts = std::max<std::uint64_t>(1, parts);
        const std::uint64_t base = hole.size() / parts;
        const std::uint64_t extra = hole.size() % parts;
        std::uint64_t begin = hole.begin;
        for (std::uint64_t i = 0; i < parts; ++i) {
            const std::uint64_t size = base + (i < extra ? 1 : 0);
            pool_.push_back({{begin, begin + size}, std::nullopt});
            begin += size;
        }
    }
}

SegmentScheduler::Lane& SegmentScheduler::lane(unsigned worker) {
    return lanes_.at(worker);
}

void SegmentScheduler::startMeter(Lane& lane, TimePoint now) const {
    lane.meter = Meter{};
    lane.meter.since = now;
    lane.meter.samples.emplace_back(now, 0);
    lane.meter.floorMark = now;
}

// Keeps about eight samples per window, and one at or before the window's start as the anchor.
// Also watches the speed floor, a stretch of `floorTime` at a time.
void SegmentScheduler::sample(Lane& lane, TimePoint now) const {
    Meter& m = lane.meter;
    if (m.samples.empty() || now - m.samples.back().first >= settings_.speedWindow / 8)
        m.samples.emplace_back(now, m.bytes);
    while (m.samples.size() > 2 && m.samples[1].first <= now - settings_.speedWindow)
        m.samples.pop_front();
    if (now - m.floorMark >= settings_.floorTime) {
        const double speed =
            static_cast<double>(m.bytes - m.floorBytes) / Seconds(now - m.floorMark).count();
        if (speed < settings_.speedFloor)
            m.replace = true;
        m.floorMark = now;
        m.floorBytes = m.bytes;
    }
}

std::optional<double> SegmentScheduler::measured(const Lane& lane, TimePoint now) const {
    const Meter& m = lane.meter;
    if (!lane.busy || m.samples.empty())
        return std::nullopt;
    if (m.flowing ? now - *m.flowing < settings_.settleAfter
                  : now - m.since < settings_.measureAfter)
        return std::nullopt;
    auto anchor = m.samples.front();
    for (const auto& s : m.samples)
        if (s.first <= now - settings_.speedWindow)
            anchor = s;
    const double seconds = Seconds(now - anchor.first).count();
    if (seconds <= 0)
        return std::nullopt;
    return static_cast<double>(m.bytes - anchor.second) / seconds;
}

std::optional<double> SegmentScheduler::estimate(const Lane& lane, TimePoint now) const {
    if (auto speed = measured(lane, now))
        return speed;
    return lane.rate;
}

std::optional<double> SegmentScheduler::medianOfOthers(const Lane* except, TimePoint now) const {
    std::vector<double> speeds;
    for (const Lane& other : lanes_)
        if (&other != except)
            if (auto speed = estimate(other, now))
                speeds.push_back(*speed);
    return median(std::move(speeds));
}

std::optional<double> SegmentScheduler::yardstick(const Lane& lane, TimePoint now) const {
    std::optional<double> typical = medianOfOthers(&lane, now);
    double sum = 0;
    std::size_t counted = 0;
    for (const Lane& any : lanes_)
        if (auto speed = estimate(any, now)) {
            sum += *speed;
            ++counted;
        }
    if (counted > 0 && (!typical || sum / static_cast<double>(counted) > *typical))
        typical = sum / static_cast<double>(counted);
    return typical;
}

void SegmentScheduler::addComplete(ByteInterval interval) {
    mergeInto(done_, interval);
    doneBytes_ += interval.size();
}

void SegmentScheduler::finishRange(Lane& lane, TimePoint now) {
    if (auto speed = measured(lane, now)) {
        lane.rate = speed;
    } else if (const double seconds = Seconds(now - lane.meter.since).count();
               !lane.rate && seconds > 0 && lane.meter.bytes > 0) {
        lane.rate = static_cast<double>(lane.meter.bytes) / seconds;
    }
    addComplete({lane.range.begin, lane.next});
    lane.busy = false;
    lane.claimed = lane.next;
    ++changes_;
    changed_.notify_all();
}

SegmentScheduler::Work SegmentScheduler::assign(Lane& lane, ByteInterval range, TimePoint now) {
    lane.busy = true;
    lane.range = range;
    lane.next = lane.claimed = lane.reserved = range.begin;
    startMeter(lane, now);
    return {Work::Kind::Fetch, range};
}

std::optional<ByteInterval> SegmentScheduler::steal(unsigned thief, TimePoint now) {
    const Lane& taker = lanes_[thief];
    const std::optional<double> takerSpeed = estimate(taker, now);

    struct Candidate {
        Lane* owner;
        double secondsLeft;
        std::uint64_t left;
    };
    std::vector<Candidate> candidates;
    for (Lane& owner : lanes_) {
        if (&owner == &taker || !owner.busy || owner.claimed >= owner.range.end)
            continue;
        const std::uint64_t left = owner.range.end - owner.claimed;
        std::optional<double> speed = estimate(owner, now);
        if (!speed)
            speed = medianOfOthers(&owner, now);
        candidates.push_back(
            {&owner, speed ? secondsFor(left, *speed) : static_cast<double>(left), left});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.secondsLeft != b.secondsLeft ? a.secondsLeft > b.secondsLeft : a.left > b.left;
    });

    const std::uint64_t minPiece = settings_.minPiece;
    const std::uint64_t share = fairShare(takerSpeed, now);
    const double tail = Seconds(settings_.slowTail).count();
    for (const Candidate& c : candidates) {
        Lane& owner = *c.owner;
        const std::uint64_t oldEnd = owner.range.end;
        const std::uint64_t free = oldEnd - promised(owner); // not asked for yet
        const std::uint64_t asked = promised(owner) - owner.claimed;
        const std::optional<double> ownerSpeed = estimate(owner, now);
        const std::optional<double> typical = medianOfOthers(&owner, now);
        const std::optional<double> takerOrTypical = takerSpeed ? takerSpeed : typical;
        const std::optional<double> judge = yardstick(owner, now);

        if (ownerSpeed && judge && takerOrTypical &&
            *ownerSpeed < settings_.slowFraction * *judge) {
            // How much longer the owner would take over `bytes` than the idle worker.
            const auto lag = [&](std::uint64_t bytes) {
                return secondsFor(bytes, *ownerSpeed) - secondsFor(bytes, *takerOrTypical);
            };
            // Only once bytes flow: a reply still to come tells nothing of the connection's speed.
            const bool cutRequest = asked > 0 && owner.meter.flowing &&
                                    lag(asked) >= Seconds(settings_.cutTail).count();
            if (cutRequest || (free > 0 && lag(free) >= tail)) {
                owner.range.end = cutRequest ? owner.claimed : promised(owner);
                owner.reserved = std::min(owner.reserved, owner.range.end);
                if (owner.next == owner.range.end)
                    finishRange(owner, now);
                return ByteInterval{owner.range.end, oldEnd};
            }
        }

        // Both parts should end at the same time; without speeds, halves.
        double takerShare = 0.5;
        if (ownerSpeed && takerOrTypical && *ownerSpeed + *takerOrTypical > 0)
            takerShare = *takerOrTypical / (*ownerSpeed + *takerOrTypical);
        const auto given =
            std::min(static_cast<std::uint64_t>(static_cast<double>(free) * takerShare), share);
        if (free < 2 * minPiece || given < minPiece)
            continue;
        const std::uint64_t keep = std::max(minPiece, free - given);
        owner.range.end = promised(owner) + keep;
        return ByteInterval{owner.range.end, oldEnd};
    }
    return std::nullopt;
}

std::uint64_t SegmentScheduler::fairShare(std::optional<double> takerSpeed, TimePoint now) const {
    std::uint64_t left = 0;
    double speeds = 0;
    const std::optional<double> typical = medianOfOthers(nullptr, now);
    for (const Lane& lane : lanes_) {
        if (lane.busy)
            left += lane.range.end - promised(lane);
        speeds += estimate(lane, now).value_or(typical.value_or(0));
    }
    const double part = takerSpeed && speeds > 0 ? *takerSpeed / speeds : 1.0 / lanes_.size();
    return std::max(settings_.minPiece,
                    static_cast<std::uint64_t>(static_cast<double>(left) * std::min(1.0, part)));
}

SegmentScheduler::Work SegmentScheduler::next(unsigned worker, TimePoint now) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (self.busy) {
        // Asked again while its range is unfinished (e.g. after a reconnect): the rest of it.
        self.claimed = self.reserved = self.next;
        if (self.next < self.range.end)
            return {Work::Kind::Fetch, {self.next, self.range.end}};
        finishRange(self, now);
    }
    if (!pool_.empty()) {
        auto it = std::find_if(pool_.begin(), pool_.end(),
                               [&](const Piece& p) { return p.leftBy != worker; });
        if (it == pool_.end())
            it = pool_.begin();
        const ByteInterval range = it->range;
        pool_.erase(it);
        return assign(self, range, now);
    }
    if (auto range = steal(worker, now))
        return assign(self, *range, now);
    const bool running =
        std::any_of(lanes_.begin(), lanes_.end(), [](const Lane& l) { return l.busy; });
    return {running ? Work::Kind::Wait : Work::Kind::Finished, {}, changes_};
}

void SegmentScheduler::waitForChange(const Work& wait, std::chrono::milliseconds most) {
    std::unique_lock guard(mutex_);
    changed_.wait_for(guard, most, [&] { return changes_ != wait.changes; });
}

ByteInterval SegmentScheduler::reserve(unsigned worker, std::uint64_t bytes) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (!self.busy)
        return {self.claimed, self.claimed};
    self.reserved = self.claimed + std::min(bytes, self.range.end - self.claimed);
    return {self.claimed, self.reserved};
}

ByteInterval SegmentScheduler::claim(unsigned worker, std::uint64_t bytes) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (!self.busy)
        return {self.claimed, self.claimed};
    const std::uint64_t take = std::min(bytes, self.range.end - self.claimed);
    const ByteInterval granted{self.claimed, self.claimed + take};
    self.claimed += take;
    return granted;
}

void SegmentScheduler::wrote(unsigned worker, std::uint64_t bytes, TimePoint now) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (!self.busy)
        return;
    bytes = std::min(bytes, self.claimed - self.next);
    self.next += bytes;
    self.meter.bytes += bytes;
    if (!self.meter.flowing && bytes > 0) {
        // Speed counts from here: the first bytes came in over the wait for the reply.
        self.meter.flowing = now;
        self.meter.samples.assign(1, {now, self.meter.bytes});
    }
    sample(self, now);
    if (self.next == self.range.end)
        finishRange(self, now);
}

SegmentScheduler::Progress SegmentScheduler::check(unsigned worker, TimePoint now) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (!self.busy)
        return {self.claimed, true, false};
    sample(self, now);
    return {self.range.end, self.claimed >= self.range.end,
            self.meter.replace || lagging(self, now)};
}

bool SegmentScheduler::lagging(const Lane& lane, TimePoint now) const {
    if (now - lane.meter.since < settings_.replaceAfter)
        return false;
    const std::optional<double> own = measured(lane, now);
    const std::optional<double> typical = yardstick(lane, now);
    if (!own || !typical || *own >= settings_.slowFraction * *typical)
        return false;
    const std::uint64_t left = lane.range.end - lane.next;
    return secondsFor(left, *own) - secondsFor(left, *typical) >=
           Seconds(settings_.slowTail).count();
}

void SegmentScheduler::restartMeter(Lane& lane, TimePoint now) const {
    if (lane.busy) {
        // Bytes count towards the new connection's speed only from now on.
        const std::uint64_t keep = lane.meter.bytes;
        startMeter(lane, now);
        lane.meter.bytes = keep;
        lane.meter.samples.front().second = keep;
        lane.meter.floorBytes = keep;
    }
}

void SegmentScheduler::reconnected(unsigned worker, TimePoint now) {
    std::lock_guard guard(mutex_);
    restartMeter(lane(worker), now);
}

void SegmentScheduler::newServer(unsigned worker, TimePoint now) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    self.rate.reset();
    restartMeter(self, now);
}

void SegmentScheduler::giveUp(unsigned worker) {
    std::lock_guard guard(mutex_);
    Lane& self = lane(worker);
    if (!self.busy)
        return;
    const ByteInterval rest{self.next, self.range.end};
    addComplete({self.range.begin, self.next});
    self.busy = false;
    self.claimed = self.next;
    ++changes_;
    changed_.notify_all();
    if (rest.empty())
        return;
    auto at =
        std::lower_bound(pool_.begin(), pool_.end(), rest.begin,
                         [](const Piece& p, std::uint64_t begin) { return p.range.begin < begin; });
    pool_.insert(at, {rest, worker});
}

void SegmentScheduler::fetchAgain(ByteInterval interval) {
    std::lock_guard guard(mutex_);
    interval.end = std::min(interval.end, length_);
    if (interval.empty())
        return;
    // A busy range's written bytes join the complete ones, so that only done_ holds bytes to
    // take back; the range goes on from the byte it has reached.
    for (Lane& l : lanes_)
        if (l.busy && l.range.begin < l.next) {
            addComplete({l.range.begin, l.next});
            l.range.begin = l.next;
        }
    std::vector<ByteInterval> kept;
    std::vector<ByteInterval> again;
    for (const ByteInterval& held : done_) {
        const ByteInterval cut{std::max(held.begin, interval.begin),
                               std::min(held.end, interval.end)};
        if (cut.empty()) {
            kept.push_back(held);
            continue;
        }
        if (held.begin < cut.begin)
            kept.push_back({held.begin, cut.begin});
        if (cut.end < held.end)
            kept.push_back({cut.end, held.end});
        again.push_back(cut);
    }
    if (again.empty())
        return;
    done_ = std::move(kept);
    for (const ByteInterval& cut : again) {
        doneBytes_ -= cut.size();
        takenBack_ += cut.size();
        auto at = std::lower_bound(
            pool_.begin(), pool_.end(), cut.begin,
            [](const Piece& p, std::uint64_t begin) { return p.range.begin < begin; });
        pool_.insert(at, {cut, std::nullopt});
    }
    ++changes_;
    changed_.notify_all();
}

std::uint64_t SegmentScheduler::takenBack() const {
    std::lock_guard guard(mutex_);
    return takenBack_;
}

std::vector<ByteInterval> SegmentScheduler::complete() const {
    std::lock_guard guard(mutex_);
    std::vector<ByteInterval> all = done_;
    for (const Lane& l : lanes_)
        if (l.busy)
            mergeInto(all, {l.range.begin, l.next});
    return all;
}

std::uint64_t SegmentScheduler::completeBytes() const {
    std::lock_guard guard(mutex_);
    std::uint64_t bytes = doneBytes_;
    for (const Lane& l : lanes_)
        if (l.busy)
            bytes += l.next - l.range.begin;
    return bytes;
}

bool SegmentScheduler::finished() const {
    return completeBytes() == length_;
}

std::size_t SegmentScheduler::waitingPieces() const {
    std::lock_guard guard(mutex_);
    return pool_.size();
}

} // namespace vantorel::download
