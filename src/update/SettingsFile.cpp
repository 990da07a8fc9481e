#include "update/SettingsFile.h"

#include "common/Config.h"
#include "common/Text.h"
#include "common/TextEncoding.h"
#include "common/Version.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vantorel::update {
namespace {

namespace fs = std::filesystem;

struct Line {
    std::size_t start = 0; // first byte of the line
    std::size_t end = 0;   // one past its last byte, before the line break
    std::size_t next = 0;  // first byte of the following line
};

std::vector<Line> splitLines(std::string_view bytes) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t lf = bytes.find('\n', pos);
        Line line;
        line.start = pos;
        if (lf == std::string_view::npos) {
            line.end = line.next = bytes.size();
        } else {
            line.end = (lf > pos && bytes[lf - 1] == '\r') ? lf - 1 : lf;
            line.next = lf + 1;
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

std::string systemMessage(int error) {
    return std::strerror(error);
}

Result<std::string> readFileBytes(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        return std::string();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return makeError("无法读取设置文件 " + path.string() + "：" + systemMessage(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return makeError("无法读取设置文件 " + path.string());
    return content.str();
}

// Writes `bytes` to a new file beside `target` and renames it over `target`.
Status replaceFile(const fs::path& target, std::string_view bytes) {
    const std::string where = target.string();
    std::error_code ec;
    fs::path folder = target.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec)
            return makeError("无法创建设置文件夹 " + folder.string() + "：" + ec.message());
    }
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return makeError("无法写入设置文件 " + where + "：" + systemMessage(errno));
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return makeError("无法写入设置文件 " + where + "：" + systemMessage(error));
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    struct stat old {};
    mode_t mode = ::stat(where.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(pattern.c_str());
        return makeError("无法写入设置文件 " + where + "：" + systemMessage(error));
    }
    if (::rename(pattern.c_str(), where.c_str()) != 0) {
        int error = errno;
        ::unlink(pattern.c_str());
        return makeError("无法写入设置文件 " + where + "：" + systemMessage(error));
    }
    return {};
}

} // namespace

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
        if (!out.empty() && out.back() != '\n')
            add += "\r\n";
        add += "[" + *section + "]\r\n" + keyLine + "\r\n";
        return out + add;
    }

    for (std::size_t i = span.first; i < span.last; ++i) {
        std::string_view name;
        if (keyOf(lineText(fileBytes, lines[i]), name) && sameName(name, *key)) {
            out.replace(lines[i].start, lines[i].end - lines[i].start, keyLine);
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
        out.insert(anchor.end, "\r\n" + keyLine);
    else
        out.insert(anchor.next, keyLine + "\r\n");
    return out;
}

Status writeProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries) {
    fs::path target(path);
    std::error_code ec;
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec)
            return makeError("无法解析设置文件路径 " + path + "：" + ec.message());
        target = resolved;
    }
    if (fs::is_directory(target, ec))
        return makeError("设置文件路径是一个文件夹：" + path);
    auto bytes = readFileBytes(target);
    if (!bytes)
        return bytes.error();
    std::string content = std::move(*bytes);
    for (const auto& entry : entries) {
        auto next = setProfileString(content, entry);
        if (!next)
            return next.error();
        content = std::move(*next);
    }
    return replaceFile(target, content);
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

} // namespace vantorel::update
