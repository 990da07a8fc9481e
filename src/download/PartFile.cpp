#include "download/PartFile.h"

#include "common/FileName.h"
#include "common/FileSystemCause.h"

#include "common/FileDescriptor.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

namespace vantorel::download {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPartSuffix = ".vantorel-part";
constexpr std::string_view kStateSuffix = ".vantorel-state";
// What replaceFile adds to the state's name for the file it writes first.
constexpr std::string_view kTemporarySuffix = ".XXXXXX";
constexpr std::size_t kDigestDigits = 16;

Error fileError(const std::string& what, const std::string& path, int error) {
    return fileSystemError(what, path, error);
}

std::uint64_t pageSize() {
    static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

// The pages of a view of `size` bytes at `map` that hold any of [offset, offset + length);
// `offset` must lie inside the view.
std::span<std::byte> pagesHolding(void* map, std::uint64_t size, std::uint64_t offset,
                                  std::uint64_t length) {
    const std::uint64_t start = offset / pageSize() * pageSize();
    const std::uint64_t end = std::min(offset + length, size);
    return {static_cast<std::byte*>(map) + start, static_cast<std::size_t>(end - start)};
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The name the side files are built on: the target's own, or, when the longest side name (the
// state's temporary file) would not fit the file system, a prefix of it cut between characters
// and a digest of the whole, so that long names sharing a prefix still get their own files.
std::string sideStem(const std::string& name) {
    // "." + "." + stem + state suffix + temporary suffix: the state's temporary file.
    const std::size_t extra = 2 + kStateSuffix.size() + kTemporarySuffix.size();
    if (name.size() + extra <= NAME_MAX)
        return name;
    std::size_t cut = NAME_MAX - extra - 1 - kDigestDigits;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    char digest[kDigestDigits + 1];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a(name)));
    return name.substr(0, cut) + "~" + digest;
}

std::string sidePath(const fs::path& target, std::string_view suffix) {
    return (target.parent_path() /
            ("." + sideStem(target.filename().string()) + std::string(suffix)))
        .string();
}

// Why a file found at a side file's path must not be used; none when it may.
std::optional<std::string_view> unsafeReason(const struct stat& info) {
    if (S_ISLNK(info.st_mode))
        return "有一个符号链接";
    if (!S_ISREG(info.st_mode))
        return "不是普通文件";
    if (info.st_uid != ::geteuid())
        return "的文件属于其他用户";
    if (info.st_nlink != 1)
        return "有一个硬链接的文件";
    return std::nullopt;
}

Error unsafeSideFile(std::string_view what, std::string_view reason, const std::string& path) {
    return makeError(std::string(what) + "位置上" + std::string(reason) + "，为安全起见不使用它：" +
                     path);
}

constexpr std::string_view kPartWhat = "下载的临时文件";
constexpr std::string_view kStateWhat = "下载进度文件";

// A state path is used only when nothing is there or a plain file of this user.
Status checkStatePath(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? Status{} : Status{fileError("无法读取文件：", path, errno)};
    if (const auto reason = unsafeReason(info))
        return unsafeSideFile(kStateWhat, *reason, path);
    return {};
}

// The target may be missing, a file, or a symbolic link (rename replaces the link itself); a
// folder, device, pipe or socket is never replaced.
Status checkTarget(const std::string& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0)
        return errno == ENOENT ? Status{} : Status{fileError("无法访问文件：", target, errno)};
    struct stat resolved {};
    if (S_ISDIR(info.st_mode) || (S_ISLNK(info.st_mode) && ::stat(target.c_str(), &resolved) == 0 &&
                                  S_ISDIR(resolved.st_mode)))
        return makeError("目标是一个文件夹，不能覆盖：" + target);
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return makeError("目标位置上不是普通文件（设备、管道或套接字），不会替换它：" + target);
    return {};
}

// Opens the part at `path` for writing, creating it when missing, without following a link or
// waiting on a pipe. `created` tells whether this call made it.
Result<int> openPart(const std::string& path, const std::string& target, const fs::path& folder,
                     bool& created) {
    constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        // Looked at before it is opened, so a device there is never opened at all.
        struct stat found {};
        if (::lstat(path.c_str(), &found) == 0)
            if (const auto reason = unsafeReason(found))
                return unsafeSideFile(kPartWhat, *reason, path);
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP)
            return unsafeSideFile(kPartWhat, "有一个符号链接", path);
        if (error == ENAMETOOLONG)
            return makeError("文件名过长：" + target);
        return fileError("无法在目标文件夹中创建文件：", folder.string(), error);
    }
    return fd;
}

// Removes the temporary files of this state that replaceFile left when it was killed before
// its rename: "." + the state's name + "." + six letters or digits, plain files of this user.
void sweepStateTemporaries(const fs::path& folder, const std::string& statePath) {
    const std::string prefix = "." + fs::path(statePath).filename().string() + ".";
    const std::size_t randomPart = kTemporarySuffix.size() - 1;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + randomPart || !name.starts_with(prefix) ||
            !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            continue;
        const std::string path = it->path().string();
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid())
            ::unlink(path.c_str());
    }
}

} // namespace

Result<PartFile> PartFile::open(const std::string& target) {
    if (target.empty())
        return makeError("没有指定保存的文件名");
    const fs::path targetPath(target);
    // A path ending in "/" names a folder: say whether that folder is there at all.
    if (!targetPath.has_filename()) {
        std::error_code missing;
        return makeError(fs::is_directory(targetPath, missing)
                             ? "保存路径是文件夹，没有文件名：" + target
                             : "保存的文件夹不存在：" + target);
    }
    const fs::path folder = folderOf(targetPath);
    std::error_code ec;
    const fs::file_status folderStatus = fs::status(folder, ec);
    if (!fs::exists(folderStatus))
        return makeError("目标文件夹不存在：" + folder.string());
    if (!fs::is_directory(folderStatus))
        return makeError("目标路径的上级不是文件夹：" + folder.string());
    if (Status usable = checkTarget(target); !usable)
        return usable.error();

    const std::string path = sidePath(targetPath, kPartSuffix);
    bool created = false;
    Result<int> opened = openPart(path, target, folder, created);
    if (!opened)
        return opened.error();
    FileDescriptor fd(*opened);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return fileError("无法读取文件：", path, errno);
    if (const auto reason = unsafeReason(info))
        return unsafeSideFile(kPartWhat, *reason, path);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return makeError("另一个下载正在写入同一个文件：" + target);

    const std::string statePath = sidePath(targetPath, kStateSuffix);
    if (Status stateUsable = checkStatePath(statePath); !stateUsable) {
        if (created)
            ::unlink(path.c_str());
        return stateUsable.error();
    }
    sweepStateTemporaries(folder, statePath);
    return PartFile(fd.release(), path, statePath, target,
                    static_cast<std::uint64_t>(info.st_size));
}

Status PartFile::discard(const std::string& target) {
    auto file = open(target); // closed without keep(): the part and the state go
    if (!file)
        return file.error();
    return {};
}

Status PartFile::move(const std::string& target, const std::string& to) {
    struct stat info {};
    if (::lstat(sidePath(fs::path(target), kPartSuffix).c_str(), &info) != 0 && errno == ENOENT)
        return {}; // nothing left beside it
    auto file = open(target);
    if (!file)
        return file.error();
    const fs::path toPath(to);
    const std::string partTo = sidePath(toPath, kPartSuffix);
    const std::string stateTo = sidePath(toPath, kStateSuffix);
    for (const std::string& side : {partTo, stateTo}) {
        struct stat info {};
        if (::lstat(side.c_str(), &info) == 0)
            return makeError("新位置已有另一个下载的临时文件：" + side);
    }
    if (::rename(file->path_.c_str(), partTo.c_str()) != 0)
        return fileError("无法移动下载的临时文件：", file->path_, errno);
    // From here nothing is removed when the file closes: the part has moved.
    file->keep();
    if (::rename(file->statePath_.c_str(), stateTo.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        // A part without its state cannot go on: it goes back to where its state is.
        ::rename(partTo.c_str(), file->path_.c_str());
        return fileError("无法移动下载进度文件：", file->statePath_, error);
    }
    return {};
}

std::string PartFile::statePathFor(const std::string& target) {
    return sidePath(fs::path(target), kStateSuffix);
}

PartFile::PartFile(int fd, std::string path, std::string statePath, std::string target,
                   std::uint64_t size)
    : fd_(fd), path_(std::move(path)), statePath_(std::move(statePath)), target_(std::move(target)),
      sizeAtOpen_(size) {}

PartFile::PartFile(PartFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::exchange(other.path_, {})),
      statePath_(std::exchange(other.statePath_, {})), target_(std::move(other.target_)),
      sizeAtOpen_(other.sizeAtOpen_), keep_(other.keep_), map_(std::exchange(other.map_, nullptr)),
      mapSize_(std::exchange(other.mapSize_, 0)), appended_(std::exchange(other.appended_, 0)),
      reserved_(std::exchange(other.reserved_, std::nullopt)) {}

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
        reserved_ = std::exchange(other.reserved_, std::nullopt);
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

// Whether the part's path still names the file this object has open.
bool PartFile::stillAtPath() const {
    struct stat mine {};
    struct stat there {};
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::lstat(path_.c_str(), &there) == 0 &&
           mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

void PartFile::release() noexcept {
    unmap();
    // Removed before the lock goes with the descriptor, so another run never opens a part that
    // is about to vanish. A file someone else put at the part's path is not ours to remove.
    if (!keep_ && !path_.empty()) {
        ::unlink(statePath_.c_str());
        if (stillAtPath())
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
    reserved_.reset();
    return {};
}

Status PartFile::sync(std::uint64_t offset, std::uint64_t length) const {
    if (!map_ || offset >= mapSize_ || length == 0)
        return {};
    const std::span<std::byte> pages = pagesHolding(map_, mapSize_, offset, length);
    if (::msync(pages.data(), pages.size(), MS_SYNC) != 0)
        return fileError("写入文件失败：", target_, errno);
    return {};
}

void PartFile::startWriteback(std::uint64_t offset, std::uint64_t length) const {
    if (fd_ < 0 || length == 0)
        return;
    // Writing a page back that is still mapped costs a write-protect of its entry and a TLB
    // flush on every processor the workers ran on, page by page. The bytes are final, so the
    // view lets go of the whole pages first (their data stays in the page cache, dirty) and the
    // flush is paid once per range.
    const std::uint64_t page = pageSize();
    const std::uint64_t first = (offset + page - 1) / page * page;
    const std::uint64_t end = std::min<std::uint64_t>(offset + length, mapSize_) / page * page;
    if (map_ && first < end)
        ::madvise(static_cast<std::byte*>(map_) + first, static_cast<std::size_t>(end - first),
                  MADV_DONTNEED);
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
}

Result<bool> PartFile::reserveAndMap(std::uint64_t size) {
    if (fd_ < 0)
        return makeError("临时文件已关闭：" + target_);
    if (size == 0) {
        reserved_ = 0;
        return true;
    }
    if (size > static_cast<std::uint64_t>(SIZE_MAX) ||
        size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return makeError("文件太大，无法保存：" + target_);
    int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    const bool allocated = error == 0;
    if (error == EINVAL || error == EOPNOTSUPP) {
        // The file system cannot reserve space; size the file instead.
        error = ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    if (error == ENOSPC || error == EDQUOT)
        return fileError("磁盘空间不足，无法为文件预留空间：", target_, error);
    if (error != 0)
        return fileError("无法为文件预留空间：", target_, error);
    void* map =
        ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED)
        return fileError("无法映射文件：", target_, errno);
    map_ = map;
    mapSize_ = static_cast<std::size_t>(size);
    reserved_ = size;
    return allocated;
}

void PartFile::prefault(std::uint64_t offset, std::uint64_t length) const {
#ifdef MADV_POPULATE_WRITE
    // Pages past the end of a file another program shrank make this fail rather than fault; the
    // copy into them then reports it.
    if (!map_ || offset >= mapSize_)
        return;
    const std::span<std::byte> pages = pagesHolding(map_, mapSize_, offset, length);
    ::madvise(pages.data(), pages.size(), MADV_POPULATE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

Result<std::string> PartFile::read(std::uint64_t offset, std::uint64_t length) const {
    std::string bytes(length, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(fd_, bytes.data() + got, bytes.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fileError("读取文件失败：", path_, n < 0 ? errno : EIO);
        got += static_cast<std::size_t>(n);
    }
    return bytes;
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
    if (Status usable = checkTarget(target_); !usable)
        return usable;
    // Unmapped first: the view's dirty pages stay in the page cache, and the fsync writes them
    // without write-protecting each mapped page on the way (see startWriteback).
    unmap();
    if (::fsync(fd_) != 0)
        return fileError("写入文件失败：", target_, errno);
    // Checked under the lock, just before the rename: the file at the part's path must be the
    // one written here, unlinked nowhere else, and as long as this run made it.
    const std::uint64_t expected = reserved_ ? *reserved_ : appended_;
    struct stat info {};
    if (!stillAtPath() || ::fstat(fd_, &info) != 0 || info.st_nlink != 1 ||
        static_cast<std::uint64_t>(info.st_size) != expected)
        return makeError("下载的临时文件在下载过程中被其他程序替换或修改，未保存：" + target_,
                         FailureKind::PartChanged);
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        return fileError("无法保存文件：", target_, errno);
    path_.clear();
    ::unlink(statePath_.c_str());
    struct stat placed {};
    const bool ours = ::lstat(target_.c_str(), &placed) == 0 && placed.st_dev == info.st_dev &&
                      placed.st_ino == info.st_ino;
    // The rename itself must reach the disk, or a crash could leave the old name.
    if (const FileDescriptor dirFd(
            ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dirFd.get() >= 0)
        ::fsync(dirFd.get());
    // The data is on disk (fsync above); closing only lets the lock go.
    ::close(std::exchange(fd_, -1));
    if (!ours)
        return makeError("下载的临时文件在保存时被其他程序替换，保存的不是下载的文件：" + target_,
                         FailureKind::PartChanged);
    return {};
}

} // namespace vantorel::download
