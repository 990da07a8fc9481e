#include "download/PartFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <utility>

namespace vantorel::download {
namespace {

std::string systemReason(int error) {
    return std::strerror(error);
}

Error fileError(const std::string& what, const std::string& path, int error) {
    if (error == ENOSPC || error == EDQUOT)
        return makeError("磁盘空间不足：" + path);
    return makeError(what + path + "（" + systemReason(error) + "）");
}

std::string sidePath(const std::filesystem::path& target, const char* suffix) {
    return (target.parent_path() / ("." + target.filename().string() + suffix)).string();
}

} // namespace

Result<PartFile> PartFile::open(const std::string& target) {
    namespace fs = std::filesystem;
    if (target.empty())
        return makeError("没有指定保存的文件名");
    const fs::path targetPath(target);
    if (!targetPath.has_filename())
        return makeError("保存路径不是文件：" + target);
    fs::path folder = targetPath.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    const fs::file_status folderStatus = fs::status(folder, ec);
    if (!fs::exists(folderStatus))
        return makeError("目标文件夹不存在：" + folder.string());
    if (!fs::is_directory(folderStatus))
        return makeError("目标路径的上级不是文件夹：" + folder.string());
    if (fs::is_directory(fs::status(targetPath, ec)))
        return makeError("目标是一个文件夹，不能覆盖：" + target);

    const std::string path = sidePath(targetPath, ".vantorel-part");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return fileError("无法在目标文件夹中创建文件：", folder.string(), errno);
    struct stat info {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return makeError("另一个下载正在写入同一个文件：" + target);
    }
    return PartFile(fd, path, target, static_cast<std::uint64_t>(info.st_size));
}

PartFile::PartFile(int fd, std::string path, std::string target, std::uint64_t size)
    : fd_(fd), path_(std::move(path)), statePath_(sidePath(target, ".vantorel-state")),
      target_(std::move(target)), sizeAtOpen_(size) {}

PartFile::PartFile(PartFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::exchange(other.path_, {})),
      statePath_(std::exchange(other.statePath_, {})), target_(std::move(other.target_)),
      sizeAtOpen_(other.sizeAtOpen_), keep_(other.keep_), map_(std::exchange(other.map_, nullptr)),
      mapSize_(std::exchange(other.mapSize_, 0)), appended_(std::exchange(other.appended_, 0)) {}

PartFile& PartFile::operator=(PartFile&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::exchange(other.path_, {});
        statePath_ = std::exchange(other.statePath_, {});
        target_ = std::move(other.target_);
        sizeAtOpen_ = other.sizeAtOpen_;
        keep_ = other.keep_;
        map_ = std::exchange(other.map_, nullptr);
        mapSize_ = std::exchange(other.mapSize_, 0);
        appended_ = std::exchange(other.appended_, 0);
    }
    return *this;
}

PartFile::~PartFile() {
    release();
}

void PartFile::unmap() noexcept {
    if (map_)
        ::munmap(map_, mapSize_);
    map_ = nullptr;
    mapSize_ = 0;
}

void PartFile::release() noexcept {
    unmap();
    // Removed before the lock goes with the descriptor, so another run never opens a part that
    // is about to vanish.
    if (!keep_ && !path_.empty()) {
        ::unlink(statePath_.c_str());
        ::unlink(path_.c_str());
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    path_.clear();
}

Status PartFile::startOver() {
    unmap();
    ::unlink(statePath_.c_str());
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        return fileError("写入文件失败：", target_, errno);
    appended_ = 0;
    return {};
}

Status PartFile::sync(std::uint64_t offset, std::uint64_t length) const {
    if (!map_ || offset >= mapSize_ || length == 0)
        return {};
    static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    const std::uint64_t end = std::min<std::uint64_t>(offset + length, mapSize_);
    if (::msync(static_cast<std::byte*>(map_) + start, static_cast<std::size_t>(end - start),
                MS_SYNC) != 0)
        return fileError("写入文件失败：", target_, errno);
    return {};
}

void PartFile::startWriteback(std::uint64_t offset, std::uint64_t length) const {
    if (fd_ >= 0 && length > 0)
        ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
}

Status PartFile::reserveAndMap(std::uint64_t size) {
    if (fd_ < 0)
        return makeError("临时文件已关闭：" + target_);
    if (size == 0)
        return {};
    if (size > static_cast<std::uint64_t>(SIZE_MAX) ||
        size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return makeError("文件太大，无法保存：" + target_);
    int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    if (error == EINVAL || error == EOPNOTSUPP) {
        // The file system cannot reserve space; size the file instead.
        error = ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    if (error != 0)
        return fileError("无法为文件预留空间：", target_, error);
    void* map =
        ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED)
        return fileError("无法映射文件：", target_, errno);
    map_ = map;
    mapSize_ = static_cast<std::size_t>(size);
    return {};
}

void PartFile::prefault(std::uint64_t offset, std::uint64_t length) const {
#ifdef MADV_POPULATE_WRITE
    if (!map_ || offset >= mapSize_)
        return;
    static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    const std::uint64_t end = std::min<std::uint64_t>(offset + length, mapSize_);
    ::madvise(static_cast<std::byte*>(map_) + start, static_cast<std::size_t>(end - start),
              MADV_POPULATE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

Status PartFile::append(std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fileError("写入文件失败：", target_, n < 0 ? errno : EIO);
        data = data.subspan(static_cast<std::size_t>(n));
        appended_ += static_cast<std::uint64_t>(n);
    }
    return {};
}

Status PartFile::commit() {
    if (fd_ < 0)
        return makeError("临时文件已关闭：" + target_);
    if (map_) {
        const bool synced = ::msync(map_, mapSize_, MS_SYNC) == 0;
        const int error = errno;
        ::munmap(map_, mapSize_);
        map_ = nullptr;
        mapSize_ = 0;
        if (!synced)
            return fileError("写入文件失败：", target_, error);
    }
    if (::fsync(fd_) != 0)
        return fileError("写入文件失败：", target_, errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
        return fileError("写入文件失败：", target_, errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        return fileError("无法保存文件：", target_, errno);
    path_.clear();
    ::unlink(statePath_.c_str());
    // The rename itself must reach the disk, or a crash could leave the old name.
    std::string folder = std::filesystem::path(target_).parent_path().string();
    if (folder.empty())
        folder = ".";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

} // namespace vantorel::download
