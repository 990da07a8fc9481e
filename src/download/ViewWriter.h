#pragma once
// Copies what a worker reads into the part file's view: the pages a little ahead are brought in
// first, then the copy. Workers copy into ranges of their own, so they copy side by side.

#include "download/DownloadRun.h"

#include <cstddef>
#include <cstdint>

namespace vantorel::download {

class ViewWriter {
  public:
    explicit ViewWriter(DownloadRun& job) : job_(job) {}

    // `bytes` at `at`; `end` bounds the pages brought in ahead (the range's end or the file's).
    // False, with the download failed, when the part was cut short under the view by someone
    // else: its pages are gone and nothing written there would reach the disk.
    bool write(std::uint64_t at, const char* data, std::size_t bytes, std::uint64_t end);

  private:
    // One piece the speed limit let through.
    bool copy(std::uint64_t at, const char* data, std::size_t bytes, std::uint64_t end);

    DownloadRun& job_;
    std::uint64_t begin_ = 0; // the pages of [begin_, end_) are in
    std::uint64_t end_ = 0;
};

} // namespace vantorel::download
