#include "update/ReleaseFolder.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vantorel::update {
namespace {

namespace fs = std::filesystem;

// Whether this process may, and is meant to, write into `folder` (an existing folder).
bool writableFolder(std::string_view folder) {
    const std::string path(folder);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return ::access(path.c_str(), W_OK | X_OK) == 0 &&
           (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// The folders the system's package manager installs programs into.
constexpr std::array<std::string_view, 5> kSystemProgramFolders = {"/usr", "/bin", "/sbin", "/opt",
                                                                   "/snap"};

bool inSystemProgramFolder(const fs::path& file) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(file, ec);
    if (ec)
        return false;
    for (std::string_view top : kSystemProgramFolders) {
        const fs::path root{std::string(top)};
        if (std::mismatch(root.begin(), root.end(), real.begin(), real.end()).first == root.end())
            return true;
    }
    return false;
}

// The folder the program file is in, made absolute.
fs::path programFolder(std::string_view programFile) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(std::string(programFile)), ec);
    return ec ? fs::path() : absolute.parent_path();
}

bool usableUserFolder(const std::string& folder) {
    if (folder.empty())
        return false;
    std::error_code ec;
    fs::create_directories(fs::path(folder), ec);
    return writableFolder(folder);
}

} // namespace

bool isInstalledCopy(std::string_view programFile) {
    if (programFile.empty())
        return false;
    const fs::path folder = programFolder(programFile);
    return folder.empty() || !writableFolder(folder.string()) ||
           inSystemProgramFolder(fs::path(std::string(programFile)));
}

Result<ReleaseFolder> chooseReleaseFolder(std::string_view programFile,
                                          std::span<const std::string> userFolders) {
    const bool installed = isInstalledCopy(programFile);
    std::error_code ec;
    if (!programFile.empty() && !installed &&
        fs::is_regular_file(fs::path(std::string(programFile)), ec))
        return ReleaseFolder{programFolder(programFile).string(), false};
    std::string tried;
    for (const std::string& folder : userFolders) {
        if (usableUserFolder(folder))
            return ReleaseFolder{folder, installed};
        tried += "\n" + folder;
    }
    return makeError("没有可以保存新版本的文件夹：" + tried);
}

bool shouldRetireProgram(std::string_view programFile, std::string_view downloaded) {
    std::error_code ec;
    fs::path program{std::string(programFile)};
    fs::path release{std::string(downloaded)};
    if (programFile.empty() || downloaded.empty() || isInstalledCopy(programFile) ||
        !fs::is_regular_file(program, ec) || !fs::is_regular_file(release, ec))
        return false;
    fs::path programReal = fs::canonical(program, ec);
    if (ec)
        return false;
    fs::path releaseReal = fs::canonical(release, ec);
    if (ec)
        return false;
    return programReal != releaseReal && programReal.parent_path() == releaseReal.parent_path();
}

} // namespace vantorel::update
