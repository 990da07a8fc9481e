#include "common/SmallFile.h"

#include "common/FileDescriptor.h"
#include "common/FileSystemCause.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vantorel {

namespace {

Error unreadable(int error) {
    return makeError("无法读取（" + fileSystemCause(error) + "）", error);
}

} // namespace

Result<std::string> readSmallFile(const std::string& path, std::uint64_t maxBytes) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 && errno == ELOOP)
        return makeError("是一个符号链接（为安全起见不跟随它）", ELOOP);
    if (fd.get() < 0)
        return unreadable(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return unreadable(errno);
    if (!S_ISREG(info.st_mode))
        return makeError("不是普通文件", EINVAL);
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return makeError("太大，不是本程序写的", EFBIG);
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return unreadable(errno);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
    return text;
}

} // namespace vantorel
