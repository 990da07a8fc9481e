#pragma once
// The worker of a download fetched as one plain stream.

#include "download/DownloadRun.h"
#include "download/Transfer.h"
#include "download/ViewWriter.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantorel::download {

// Fetches the whole file as one plain stream: into the view when the length is known,
// appended to the file otherwise. A content coding is decoded.
class StreamWorker {
  public:
    StreamWorker(DownloadRun& job, bool lengthKnown)
        : job_(job), known_(lengthKnown), transfer_(job) {}

    std::uint64_t written() const { return next_; }

    void run();

  private:
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);

    DownloadRun& job_;
    const bool known_;
    Transfer transfer_;
    std::uint64_t next_ = 0;
    bool checked_ = false; // the reply was found to be the version the probe saw
    ViewWriter writer_{job_};
    std::optional<Error> problem_;
    std::optional<Error> writeError_;
};

} // namespace vantorel::download
