#pragma once
// Whether the target's folder has room for a download, asked before a byte is reserved.
//
// Downloads of one process that start together must not each find the same free bytes: the
// free space is asked, compared and taken under one lock for the whole process, and bytes a
// download has been promised count as taken for every other download until its file holds
// them. With room for two, the third of three downloads is refused before its first byte.

#include "common/Result.h"
#include "download/Downloader.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vantorel::download {

// Bytes promised to one download; the promise ends with the object.
class SpaceReservation {
  public:
    SpaceReservation() = default;
    SpaceReservation(SpaceReservation&&) noexcept = default;
    SpaceReservation& operator=(SpaceReservation&&) noexcept = default;
    ~SpaceReservation();

  private:
    friend Result<SpaceReservation> reserveSpace(const DownloadRequest&, std::uint64_t,
                                                 const std::function<Result<bool>()>&);
    struct Claim;
    std::unique_ptr<Claim> claim_;
};

// Fails ("磁盘空间不足") when `needed` bytes are more than the folder of the request's target
// has free, less what other downloads of this process were promised and their files do not yet
// hold; the request's freeSpace answers when given, else the file system. Otherwise runs
// `allocate` under the same lock, so no other download's check comes between, and returns the
// promise. `allocate` says whether the file now holds the bytes (allocated in full): then the
// promise ends at once; else (a file system that can only size a file) it lasts as long as the
// returned reservation.
Result<SpaceReservation> reserveSpace(const DownloadRequest& request, std::uint64_t needed,
                                      const std::function<Result<bool>()>& allocate);

} // namespace vantorel::download
