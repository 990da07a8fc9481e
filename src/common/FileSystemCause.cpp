#include "common/FileSystemCause.h"

#include <cerrno>
#include <cstring>

namespace vantorel {

std::string fileSystemCause(int error) {
    switch (error) {
    case EROFS:
        return "只读文件系统";
    case EACCES:
    case EPERM:
        return "没有写入权限";
    case ENOSPC:
        return "磁盘已满";
    case EDQUOT:
        return "磁盘配额已用完";
    case ENAMETOOLONG:
        return "文件名过长";
    case ENOENT:
        return "文件或文件夹不存在";
    case ENOTDIR:
        return "路径中有一部分不是文件夹";
    case EISDIR:
        return "这是一个文件夹";
    case EEXIST:
        return "文件已存在";
    case ENOTEMPTY:
        return "文件夹不是空的";
    case EBUSY:
    case ETXTBSY:
        return "文件正在使用中";
    case EFBIG:
        return "文件过大";
    case EMFILE:
    case ENFILE:
        return "打开的文件过多";
    case ELOOP:
        return "符号链接层数过多";
    case EXDEV:
        return "不能跨文件系统移动";
    case EIO:
        return "读写设备出错";
    case ENOMEM:
        return "内存不足";
    case EINVAL:
        return "文件系统不支持此操作";
    case EAGAIN:
        return "文件正被另一程序锁定";
    default:
        return "系统错误 " + std::to_string(error);
    }
}

FailureKind fileSystemKind(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return FailureKind::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return FailureKind::NoPermission;
    default:
        return FailureKind::Other;
    }
}

Error fileSystemError(std::string_view what, std::string_view path, int error) {
    const std::string cause = fileSystemCause(error);
    std::string message = what.empty() && path.empty()
                              ? cause
                              : std::string(what) + std::string(path) + "（" + cause + "）";
    return Error{error, std::move(message), std::strerror(error), fileSystemKind(error)};
}

} // namespace vantorel
