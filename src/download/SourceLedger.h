#pragma once
// Which source sent each byte of a download's part during this run, so that bytes found wrong
// afterwards (a closing proof, a piece whose hash fails) name the source that sent them, which
// is dropped, and only its bytes are fetched again.
//
// Thread safety: one mutex guards everything; every member takes it.

#include "download/SegmentScheduler.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace vantorel::download {

class SourceLedger {
  public:
    // `source` sent the bytes of `written`; whatever was recorded for them before is replaced.
    void record(std::size_t source, ByteInterval written);
    // The sources that sent any byte of `interval`, in order of their ids, each once.
    std::vector<std::size_t> sourcesOf(ByteInterval interval) const;
    // The bytes `source` sent, merged and in order.
    std::vector<ByteInterval> sentBy(std::size_t source) const;
    // The bytes of `interval` are to be fetched again: no source is recorded for them.
    void forget(ByteInterval interval);
    void clear();

  private:
    struct Span {
        std::uint64_t end = 0;
        std::size_t source = 0;
    };
    void forgetLocked(ByteInterval interval);

    mutable std::mutex mutex_;
    std::map<std::uint64_t, Span> spans_; // by first byte; disjoint
};

} // namespace vantorel::download
