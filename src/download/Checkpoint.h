#pragma once
// Keeps the disk busy while the download runs, and the resume state up to date.
//
// Bytes complete are handed to the disk at every tick, to be written in the background, so the
// flush before the file takes its name finds little left: the disk writes while the download
// runs instead of after it.
//
// About once a second the resume state lists the bytes complete; the bytes it newly lists are
// flushed first, so it never lists a byte that is not on disk. Only those are flushed: flushing
// the whole view would also write pages the workers are still filling, and make them wait.

#include "download/DownloadRun.h"
#include "download/SegmentScheduler.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::download {

class Checkpoint {
  public:
    Checkpoint(DownloadRun& job, std::string resumeKey) : job_(job), key_(std::move(resumeKey)) {}

    // Turns the state on for a download a later run can take up: it must be able to tell that
    // the server still has the same version (Validators::sameVersionAs).
    void enable(bool on);
    // Bytes the state on disk lists.
    std::uint64_t listedBytes() const;

    void maybe();
    // True when the state on disk now lists every byte complete.
    bool now();

  private:
    DownloadRun& job_;
    const std::string key_;
    bool enabled_ = false;
    std::vector<ByteInterval> flushed_; // listed by the last state saved
    std::vector<ByteInterval> handed_;  // handed to the disk
    Clock::time_point last_ = Clock::now();
};

} // namespace vantorel::download
