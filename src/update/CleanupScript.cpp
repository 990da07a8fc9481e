#include "update/CleanupScript.h"

#include "common/FileSystemCause.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vantorel::update {
namespace {

namespace fs = std::filesystem;

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string vbsLiteral(std::string_view path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"')
            out += "\"\"";
        else
            out.push_back(c);
    }
    return out + "\"";
}

std::string shellLiteral(std::string_view path) {
    std::string out = "'";
    for (char c : path) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

Status writeScript(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return fileSystemError("无法写入清理脚本 ", path, errno);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        return makeError("无法写入清理脚本 " + path);
    return {};
}

// Starts /bin/sh on the script in a new session and in the background, so the step survives
// this process; the shell that launches it ends at once and is reaped here.
Status runDetached(const std::string& script) {
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return makeError("无法启动清理脚本");
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string launcher = "/bin/sh \"$1\" </dev/null >/dev/null 2>&1 &";
    std::string shell = "/bin/sh", dashC = "-c", name = "sh", scriptArg = script;
    char* argv[] = {shell.data(), dashC.data(),     launcher.data(),
                    name.data(),  scriptArg.data(), nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return fileSystemError("无法启动清理脚本：", "/bin/sh", error);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return makeError("无法启动清理脚本");
    return {};
}

} // namespace

Result<std::string> cleanupVbsText(std::string_view file, std::string_view scriptPath) {
    if (hasLineBreakOrNul(file) || hasLineBreakOrNul(scriptPath))
        return makeError("路径含有换行，无法写入清理脚本");
    return "  Dim fso\r\n"
           "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
           "  Wscript.Sleep(1000)\r\n"
           "  fso.DeleteFile(" +
           vbsLiteral(file) + ")\r\n  fso.DeleteFile(" + vbsLiteral(scriptPath) + ")";
}

Result<std::string> cleanupShellText(std::string_view file, std::string_view scriptPath) {
    if (file.find('\0') != std::string_view::npos ||
        scriptPath.find('\0') != std::string_view::npos)
        return makeError("路径无效，无法写入清理脚本");
    return "sleep 1\nrm -f -- " + shellLiteral(file) + "\nrm -f -- " + shellLiteral(scriptPath) +
           "\n";
}

std::string cleanupScriptPath(std::string_view file) {
    fs::path folder = fs::path(std::string(file)).parent_path();
    return (folder / std::string(kShellScriptName)).string();
}

Result<std::string> startCleanup(std::string_view file) {
    std::error_code ec;
    fs::path target{std::string(file)};
    if (!target.is_absolute() || !fs::is_regular_file(target, ec))
        return makeError("要清理的文件不存在：" + std::string(file));
    const std::string script = cleanupScriptPath(file);
    auto text = cleanupShellText(file, script);
    if (!text)
        return text.error();
    if (Status written = writeScript(script, *text); !written)
        return written.error();
    if (Status started = runDetached(script); !started) {
        fs::remove(script, ec);
        return started.error();
    }
    return script;
}

} // namespace vantorel::update
