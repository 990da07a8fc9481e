#include "download/FreeSpace.h"

#include "common/ByteSize.h"
#include "common/FileName.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <map>
#include <mutex>
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

// The file system a folder is on; the folder itself names it when that cannot be asked.
std::string fileSystemOf(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return "path:" + folder;
    return "device:" + std::to_string(info.st_dev);
}

// The bytes promised and not yet held, per file system, for the whole process: the disk is
// shared by every download of it, whichever front end or queue started them.
struct Ledger {
    std::mutex mutex;
    std::map<std::string, std::uint64_t> promised;
};

Ledger& ledger() {
    static Ledger instance;
    return instance;
}

} // namespace

struct SpaceReservation::Claim {
    std::string fileSystem;
    std::uint64_t bytes = 0;
};

SpaceReservation::~SpaceReservation() {
    if (!claim_)
        return;
    Ledger& book = ledger();
    std::lock_guard lock(book.mutex);
    auto it = book.promised.find(claim_->fileSystem);
    if (it == book.promised.end())
        return;
    it->second -= std::min(it->second, claim_->bytes);
    if (it->second == 0)
        book.promised.erase(it);
}

Result<SpaceReservation> reserveSpace(const DownloadRequest& request, std::uint64_t needed,
                                      const std::function<Result<bool>()>& allocate) {
    const std::string folder = folderOf(request.target).string();
    const std::string fileSystem = fileSystemOf(folder);
    Ledger& book = ledger();
    std::lock_guard lock(book.mutex);
    if (needed > 0) {
        const auto free = request.freeSpace ? request.freeSpace(folder) : freeSpaceOf(folder);
        const auto it = book.promised.find(fileSystem);
        const std::uint64_t promised = it == book.promised.end() ? 0 : it->second;
        if (free) {
            const std::uint64_t left = *free - std::min(*free, promised);
            if (needed > left)
                return makeError(
                    "磁盘空间不足：文件需要 " +
                        formatBytes(static_cast<double>(needed), ByteStyle::Mebibytes) + "，" +
                        folder + " 只剩 " +
                        formatBytes(static_cast<double>(left), ByteStyle::Mebibytes),
                    FailureKind::DiskFull);
        }
    }
    Result<bool> held = allocate();
    if (!held)
        return held.error();
    SpaceReservation reservation;
    if (needed > 0 && !*held) {
        reservation.claim_ = std::make_unique<SpaceReservation::Claim>();
        reservation.claim_->fileSystem = fileSystem;
        reservation.claim_->bytes = needed;
        book.promised[fileSystem] += needed;
    }
    return reservation;
}

} // namespace vantorel::download
