#include "download/MetalinkTarget.h"

#include "common/FileSystemCause.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace vantorel::download {

Result<std::string> metalinkTarget(const std::string& folder, const std::string& name, bool make) {
    std::filesystem::path at(folder);
    for (std::size_t begin = 0;;) {
        const std::size_t slash = name.find('/', begin);
        at /= name.substr(begin, slash - begin);
        struct stat info {};
        const bool exists = ::lstat(at.c_str(), &info) == 0;
        if (exists && S_ISLNK(info.st_mode))
            return makeError("保存路径中有一个链接，不会经它保存：" + at.string(),
                             FailureKind::BadAddress);
        if (slash == std::string::npos) {
            if (exists && S_ISDIR(info.st_mode))
                return makeError("保存的位置是一个文件夹：" + at.string(), FailureKind::BadAddress);
            return at.string();
        }
        // Nothing below a folder still to be made can be a link.
        if (exists || make) {
            if (!exists && ::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST)
                return fileSystemError("无法创建文件夹", at.string(), errno);
            if (::lstat(at.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
                return makeError("保存路径中的 " + at.string() + " 不是文件夹",
                                 FailureKind::BadAddress);
        }
        begin = slash + 1;
    }
}

} // namespace vantorel::download
