#pragma once
// Whether the target's folder has room for a download, asked before a byte is reserved.

#include "common/Result.h"
#include "download/Downloader.h"

#include <cstdint>

namespace vantorel::download {

// Fails ("磁盘空间不足") when `needed` bytes are more than the folder of the request's target
// has free; the request's freeSpace answers when given, else the file system.
Status checkFreeSpace(const DownloadRequest& request, std::uint64_t needed);

} // namespace vantorel::download
