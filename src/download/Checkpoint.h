#pragma once
// Keeps the disk busy while the download runs, and the resume state up to date.
//
// Bytes complete are handed to the disk at every tick, to be written in the background, so the
// flush before the file takes its name finds little left: the disk writes while the download
// runs instead of after it.
//
// The resume state lists the bytes complete as soon as there are any, then again at intervals
// that double from kFirstCheckpointEvery to the request's checkpointEvery (about a second), so a
// run killed in its first second leaves a state too. The bytes it newly lists are flushed first,
// so it never lists a byte that is not on disk. Only those are flushed: flushing the whole view
// would also write pages the workers are still filling, and make them wait.

#include "download/DownloadRun.h"
#include "download/SegmentScheduler.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::download {

inline constexpr std::chrono::milliseconds kFirstCheckpointEvery{100};

class Checkpoint {
  public:
    Checkpoint(DownloadRun& job, std::string resumeKey) : job_(job), key_(std::move(resumeKey)) {}

    // Turns the state on for a download a later run can take up. A server's validators tell
    // that run whether the file is still the same; without them it proves the part's bytes by
    // sampled blocks (proveAgainstPart).
    void enable(bool on);
    // Bytes the state on disk lists.
    std::uint64_t listedBytes() const;
    // Whether a later run can prove the bytes the state on disk lists: by the server's
    // validators, or else by blocks sampled from them (ProofBlocks.h).
    bool provable() const;

    void maybe();
    // True when the state on disk now lists every byte complete.
    bool now();

  private:
    DownloadRun& job_;
    const std::string key_;
    bool enabled_ = false;
    bool saved_ = false;                // a state was saved since enable()
    Clock::duration every_{};           // until the next state
    std::vector<ByteInterval> flushed_; // listed by the last state saved
    std::uint64_t takenBack_ = 0;       // the scheduler's takenBack() then
    std::vector<ByteInterval> handed_;  // handed to the disk
    Clock::time_point last_ = Clock::now();
};

} // namespace vantorel::download
