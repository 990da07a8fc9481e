#pragma once
// The worker of a download fetched as one plain stream.

#include "download/DownloadRun.h"
#include "download/ViewWriter.h"
#include "net/DownloadConnection.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vantorel::download {

// Fetches the whole file as one plain stream: into the view when the length is known,
// appended to the file otherwise. A content coding is decoded.
class StreamWorker {
  public:
    StreamWorker(DownloadRun& job, bool lengthKnown)
        : job_(job), known_(lengthKnown), transfer_(job.connectionRules()) {}

    std::uint64_t written() const { return next_; }

    void run();

  private:
    std::size_t onBody(std::span<const char> data);

    DownloadRun& job_;
    const bool known_;
    net::DownloadConnection transfer_;
    std::uint64_t next_ = 0;
    bool checked_ = false; // the reply was found to be the version the probe saw
    ViewWriter writer_{job_};
    std::optional<Error> problem_;
    std::optional<Error> writeError_;
};

} // namespace vantorel::download
