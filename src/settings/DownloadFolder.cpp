#include "settings/DownloadFolder.h"

#include "common/FileDescriptor.h"
#include "common/FileSystemCause.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vantorel::settings {

FolderCheck checkDownloadFolder(std::string_view path) {
    const std::string folder(path);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return {FolderState::Missing, makeError("下载文件夹不存在：" + folder)};
        const FolderState state =
            error == ENOTDIR ? FolderState::NotAFolder : FolderState::NotWritable;
        return {state, fileSystemError("无法使用下载文件夹：", folder, error)};
    }
    if (!S_ISDIR(status.st_mode))
        return {FolderState::NotAFolder, makeError("下载文件夹不是文件夹：" + folder)};
    std::string probe = (std::filesystem::path(folder) / ".vantorel-XXXXXX").string();
    const FileDescriptor fd(::mkstemp(probe.data()));
    if (fd.get() < 0) {
        const int error = errno;
        return {FolderState::NotWritable, fileSystemError("无法写入下载文件夹：", folder, error)};
    }
    ::unlink(probe.c_str());
    return {};
}

Status createDownloadFolder(std::string_view path) {
    std::error_code failure;
    std::filesystem::create_directories(std::filesystem::path(path), failure);
    if (failure)
        return fileSystemError("无法创建下载文件夹：", path, failure.value());
    if (FolderCheck check = checkDownloadFolder(path); check.state != FolderState::Usable)
        return check.error;
    return {};
}

} // namespace vantorel::settings
