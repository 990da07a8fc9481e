#include "download/PartFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
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

std::string randomTag() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device device;
    std::uniform_int_distribution<int> pick(0, 15);
    std::string tag(8, '0');
    for (char& c : tag)
        c = kDigits[pick(device)];
    return tag;
}

} // namespace

Result<PartFile> PartFile::create(const std::string& target) {
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

    const std::string stem = targetPath.filename().string();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string path = (folder / ("." + stem + "." + randomTag() + ".part")).string();
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return PartFile(fd, path, target);
        if (errno != EEXIST)
            return fileError("无法在目标文件夹中创建文件：", folder.string(), errno);
    }
    return makeError("无法在目标文件夹中创建临时文件：" + folder.string());
}

PartFile::PartFile(int fd, std::string path, std::string target)
    : fd_(fd), path_(std::move(path)), target_(std::move(target)) {}

PartFile::PartFile(PartFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)),
      target_(std::move(other.target_)), map_(std::exchange(other.map_, nullptr)),
      mapSize_(std::exchange(other.mapSize_, 0)), appended_(std::exchange(other.appended_, 0)) {
    other.path_.clear();
}

PartFile& PartFile::operator=(PartFile&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::exchange(other.path_, {});
        target_ = std::move(other.target_);
        map_ = std::exchange(other.map_, nullptr);
        mapSize_ = std::exchange(other.mapSize_, 0);
        appended_ = std::exchange(other.appended_, 0);
    }
    return *this;
}

PartFile::~PartFile() {
    release();
}

void PartFile::release() noexcept {
    if (map_)
        ::munmap(map_, mapSize_);
    map_ = nullptr;
    mapSize_ = 0;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!path_.empty())
        ::unlink(path_.c_str());
    path_.clear();
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

Status PartFile::truncate() {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        return fileError("写入文件失败：", target_, errno);
    appended_ = 0;
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
