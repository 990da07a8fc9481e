#include "download/FreeSpace.h"

#include "common/ByteSize.h"
#include "common/FileName.h"

#include <sys/statvfs.h>

#include <optional>
#include <string>

namespace vantorel::download {
namespace {

std::optional<std::uint64_t> freeSpaceOf(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

} // namespace

Status checkFreeSpace(const DownloadRequest& request, std::uint64_t needed) {
    if (needed == 0)
        return {};
    const std::string folder = folderOf(request.target).string();
    const auto free = request.freeSpace ? request.freeSpace(folder) : freeSpaceOf(folder);
    if (free && needed > *free)
        return makeError("磁盘空间不足：文件需要 " +
                         formatBytes(static_cast<double>(needed), ByteStyle::Mebibytes) + "，" +
                         folder + " 只剩 " +
                         formatBytes(static_cast<double>(*free), ByteStyle::Mebibytes));
    return {};
}

} // namespace vantorel::download
