#include "settings/SettingsFile.h"

#include "common/Config.h"
#include "common/FileDescriptor.h"
#include "common/FileSystemCause.h"
#include "common/ReplaceFile.h"
#include "common/Text.h"
#include "common/TextEncoding.h"
#include "common/Version.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

namespace vantorel::settings {
namespace {

namespace fs = std::filesystem;

struct Line {
    std::size_t start = 0; // first byte of the line
    std::size_t end = 0;   // one past its last byte, before the line break
    std::size_t next = 0;  // first byte of the following line
};

// CR, LF and CR LF each end a line, so files written on any system split the same way.
std::vector<Line> splitLines(std::string_view bytes) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t brk = bytes.find_first_of("\r\n", pos);
        Line line;
        line.start = pos;
        if (brk == std::string_view::npos) {
            line.end = line.next = bytes.size();
        } else {
            line.end = brk;
            line.next = brk + 1;
            if (bytes[brk] == '\r' && line.next < bytes.size() && bytes[line.next] == '\n')
                ++line.next;
        }
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Names compare without regard to ASCII case. A GBK lead byte and its trail byte are compared
// exactly, because a trail byte can look like an ASCII letter.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto byte = static_cast<unsigned char>(a[i]);
        if (byte >= 0x81 && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// The section a line opens, if it is a section line.
bool sectionOf(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return false;
    std::size_t close = line.find(']');
    name = trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
    return true;
}

// The key a line sets, if it is a key line (comments are not).
bool keyOf(std::string_view line, std::string_view& key) {
    line = trim(line);
    if (line.empty() || line.front() == ';')
        return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(line.substr(0, eq));
    return true;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

Status checkEntry(const ProfileEntry& e) {
    if (e.section.empty() || hasLineBreakOrNul(e.section) ||
        e.section.find(']') != std::string::npos || trim(e.section) != e.section)
        return makeError("设置项的节名无效：" + e.section);
    if (e.key.empty() || hasLineBreakOrNul(e.key) || e.key.find('=') != std::string::npos ||
        e.key.front() == '[' || e.key.front() == ';' || trim(e.key) != e.key)
        return makeError("设置项的键名无效：" + e.key);
    if (hasLineBreakOrNul(e.value))
        return makeError("设置项“" + e.key + "”的值含有换行，未写入");
    return {};
}

// The byte range of a section: from the line after its header to the next section line.
struct SectionSpan {
    bool found = false;
    std::size_t header = 0; // index of the header line
    std::size_t first = 0;  // index of its first body line
    std::size_t last = 0;   // one past its last body line
};

SectionSpan findSection(const std::vector<Line>& lines, std::string_view bytes,
                        std::string_view section) {
    SectionSpan span;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        std::string_view text = bytes.substr(lines[i].start, lines[i].end - lines[i].start);
        if (!sectionOf(text, name))
            continue;
        if (span.found) {
            span.last = i;
            return span;
        }
        if (sameName(name, section)) {
            span.found = true;
            span.header = i;
            span.first = i + 1;
        }
    }
    span.last = lines.size();
    return span;
}

std::string_view lineText(std::string_view bytes, const Line& line) {
    return bytes.substr(line.start, line.end - line.start);
}

// The settings file, open and under an exclusive advisory lock for one read-modify-write.
struct LockedFile {
    FileDescriptor handle;
    struct stat info {};
    bool created = false; // it did not exist: a failed write removes it again
};

// Our own writers hold the lock for a few milliseconds; a holder that keeps it longer must not
// freeze the program at start, so the wait is bounded.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockPoll = std::chrono::milliseconds(2);

Result<LockedFile> lockFile(const fs::path& target) {
    const std::string where = target.string();
    std::error_code ec;
    if (fs::path folder = target.parent_path(); !folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec)
            return fileSystemError("无法创建设置文件夹 ", folder.string(), ec.value());
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    auto failed = [&](int error) { return fileSystemError("无法打开设置文件 ", where, error); };
    for (;;) {
        LockedFile file;
        // O_NONBLOCK: a FIFO put in the file's place must not block the open.
        constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
        int fd = ::open(where.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(where.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
            file.created = fd >= 0;
            if (fd < 0 && errno == EEXIST)
                continue; // another writer created it just now
        }
        if (fd < 0)
            return failed(errno);
        file.handle = FileDescriptor(fd);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return failed(errno);
            if (std::chrono::steady_clock::now() >= deadline)
                return makeError("设置文件正被另一个程序写入，未能更新：" + where);
            std::this_thread::sleep_for(kLockPoll);
        }
        // The writer we waited for may have replaced the file: the lock must be on the file
        // that now stands at the path, else try again.
        struct stat current {};
        if (::fstat(fd, &file.info) != 0)
            return failed(errno);
        if (::stat(where.c_str(), &current) != 0 || current.st_dev != file.info.st_dev ||
            current.st_ino != file.info.st_ino)
            continue;
        return file;
    }
}

// The whole content of an open file; a file over kMaxSettingsFileBytes is refused unread.
Result<std::string> readOpenFile(const FileDescriptor& handle, const struct stat& info,
                                 const std::string& where) {
    auto tooLarge = [&] {
        return makeError("设置文件 " + where + " 超过 1 MiB，不像本程序的设置，未读取也未改写");
    };
    if (!S_ISREG(info.st_mode))
        return makeError("设置文件不是普通文件：" + where);
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxSettingsFileBytes)
        return tooLarge();
    std::string content;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(handle.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fileSystemError("无法读取设置文件 ", where, errno);
        if (n == 0)
            return content;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > kMaxSettingsFileBytes) // grew after it was measured
            return tooLarge();
    }
}

} // namespace

Result<std::optional<std::string>>
getProfileString(std::string_view fileBytes, std::string_view section, std::string_view key) {
    auto gbkSection = utf8ToGbk(section);
    auto gbkKey = utf8ToGbk(key);
    if (!gbkSection || !gbkKey)
        return std::optional<std::string>(); // a name without a GBK form is in no file of ours
    const std::vector<Line> lines = splitLines(fileBytes);
    const SectionSpan span = findSection(lines, fileBytes, *gbkSection);
    if (!span.found)
        return std::optional<std::string>();
    for (std::size_t i = span.first; i < span.last; ++i) {
        std::string_view text = lineText(fileBytes, lines[i]);
        std::string_view name;
        if (!keyOf(text, name) || !sameName(name, *gbkKey))
            continue;
        auto value = gbkToUtf8(trim(text.substr(text.find('=') + 1)));
        if (!value)
            return makeError("设置项“" + std::string(key) + "”的值不是GBK文本：" +
                             value.error().message);
        return std::optional<std::string>(std::move(*value));
    }
    return std::optional<std::string>();
}

Result<std::string> readSettingsFile(const std::string& path) {
    if (path.empty())
        return makeError(std::string(kNoSettingsPathText));
    // O_NONBLOCK: a FIFO put in the file's place must not block the open.
    FileDescriptor handle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (handle.get() < 0 && errno == ENOENT)
        return std::string();
    struct stat info {};
    if (handle.get() < 0 || ::fstat(handle.get(), &info) != 0)
        return fileSystemError("无法打开设置文件 ", path, errno);
    return readOpenFile(handle, info, path);
}

Result<std::string> setProfileString(std::string_view fileBytes, const ProfileEntry& entry) {
    if (Status valid = checkEntry(entry); !valid)
        return valid.error();
    auto section = utf8ToGbk(entry.section);
    auto key = utf8ToGbk(entry.key);
    auto value = utf8ToGbk(entry.value);
    for (const auto* converted : {&section, &key, &value})
        if (!converted->ok())
            return makeError("设置项“" + entry.key + "”无法以GBK保存：" +
                             converted->error().message);

    const std::string keyLine = *key + "=" + *value;
    const std::vector<Line> lines = splitLines(fileBytes);
    const SectionSpan span = findSection(lines, fileBytes, *section);
    std::string out(fileBytes);

    if (!span.found) {
        std::string add;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r')
            add += "\r\n";
        add += "[" + *section + "]\r\n" + keyLine + "\r\n";
        return out + add;
    }

    for (std::size_t i = span.first; i < span.last; ++i) {
        std::string_view name;
        if (keyOf(lineText(fileBytes, lines[i]), name) && sameName(name, *key)) {
            // The line keeps its own line break; the file's last line gets one.
            const bool unterminated = lines[i].next == lines[i].end;
            out.replace(lines[i].start, lines[i].end - lines[i].start,
                        unterminated ? keyLine + "\r\n" : keyLine);
            return out;
        }
    }

    // A new key goes after the section's last non-blank line (or right after its header).
    std::size_t after = span.header;
    for (std::size_t i = span.first; i < span.last; ++i)
        if (!trim(lineText(fileBytes, lines[i])).empty())
            after = i;
    const Line& anchor = lines[after];
    if (anchor.next == anchor.end) // the last line of the file, without a line break
        out.insert(anchor.end, "\r\n" + keyLine + "\r\n");
    else
        out.insert(anchor.next, keyLine + "\r\n");
    return out;
}

bool holdsPassword(std::string_view fileBytes) {
    auto password = getProfileString(fileBytes, kPreferencesSection, kProxyPasswordKey);
    return !password || (*password && !(*password)->empty());
}

Status writeProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries) {
    if (path.empty())
        return makeError(std::string(kNoSettingsPathText));
    fs::path target(path);
    std::error_code ec;
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec)
            return fileSystemError("无法解析设置文件路径 ", path, ec.value());
        target = resolved;
    }
    if (fs::is_directory(target, ec))
        return makeError("设置文件路径是一个文件夹：" + path);
    // Read, change and replace under the lock, so that a second program writing at the same
    // time starts from this write's result instead of overwriting it.
    auto locked = lockFile(target);
    if (!locked)
        return locked.error();
    Status written = [&]() -> Status {
        auto content = readOpenFile(locked->handle, locked->info, target.string());
        if (!content)
            return content.error();
        for (const auto& entry : entries) {
            auto next = setProfileString(*content, entry);
            if (!next)
                return next.error();
            *content = std::move(*next);
        }
        std::optional<mode_t> mode;
        if (holdsPassword(*content))
            mode = locked->created ? 0600 : (locked->info.st_mode & 0600);
        if (Status replaced = replaceFile(target, *content, mode); !replaced)
            return fileSystemError("无法写入设置文件 ", target.string(), replaced.error().code);
        return {};
    }();
    if (!written && locked->created)
        ::unlink(target.c_str());
    return written;
}

std::vector<ProfileEntry> programSettings(std::string_view programFolder) {
    std::string folder(programFolder);
    if (folder.empty() || (folder.back() != '/' && folder.back() != '\\'))
        folder += fs::path::preferred_separator;
    const std::string section(kSettingsSection);
    return {
        {section, std::string(kPathKey), folder},
        {section, std::string(kVersionKey), kVersion},
        {section, std::string(kInstanceIdKey), kInstanceId},
    };
}

Status writeProgramSettings(std::string_view programFolder) {
    return writeProfileStrings(config::iniPath(), programSettings(programFolder));
}

} // namespace vantorel::settings
