#include "common/ReplaceFile.h"

#include "common/FileSystemCause.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantorel {

Status replaceFile(const std::filesystem::path& target, std::string_view bytes,
                   std::optional<mode_t> mode) {
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fileSystemError({}, {}, errno);
    auto fail = [&](int error) -> Status {
        ::unlink(temporary.c_str());
        return fileSystemError({}, {}, error);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            return fail(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (!mode) {
        struct stat old {};
        mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    }
    if (::fchmod(fd, *mode) != 0 || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (::close(fd) != 0)
        return fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail(errno);
    return {};
}

} // namespace vantorel
