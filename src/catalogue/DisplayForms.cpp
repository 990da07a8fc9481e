#include "catalogue/DisplayForms.h"

#include "common/TextEncoding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace vantorel::catalogue {
namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 if it is not a valid one.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    std::size_t n = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    if (n == 0 || (n > 1 && c < 0xC2) || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    return n;
}

bool isReservedDeviceName(std::string_view stem) {
    std::string upper;
    for (char c : stem.substr(0, stem.find('.')))
        upper.push_back((c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c);
    while (!upper.empty() && upper.back() == ' ')
        upper.pop_back();
    static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(plain.begin(), plain.end(), upper) != plain.end())
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

} // namespace

std::string sizeDisplay(std::string_view filesize) {
    std::uint64_t bytes = 0;
    auto [end, ec] = std::from_chars(filesize.data(), filesize.data() + filesize.size(), bytes);
    if (filesize.empty() || ec != std::errc() || end != filesize.data() + filesize.size())
        return std::string(filesize);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(bytes) / 1048576.0);
    std::string text = buf;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text + "MB";
}

std::string foundCountText(std::size_t count) {
    return "找到：" + std::to_string(count) + " 项";
}

std::string nameLabel(const CatalogueRecord& r) {
    return "应用程序：" + r.displayname;
}
std::string versionLabel(const CatalogueRecord& r) {
    return "版本：" + r.versionname;
}
std::string sizeLabel(const CatalogueRecord& r) {
    return "大小：" + sizeDisplay(r.filesize);
}
std::string dateLabel(const CatalogueRecord& r) {
    return "更新：" + r.publishdate;
}

std::string detailsText(const CatalogueRecord& r) {
    return "ID：" + r.hash + "\r\n应用名：" + r.displayname + "\r\n包名：" + r.filename +
           "\r\n大小：" + sizeDisplay(r.filesize) + "\r\n版本号：" + r.versionname +
           "\r\n发布日期：" + r.publishdate + "\r\n图标地址：" + r.logo48 + "\r\n下载链接1：" +
           r.url + "\r\n下载链接2：" + r.https;
}

std::string logoAddress(std::string_view logoBase, std::string_view logo48) {
    return std::string(logoBase) + "/softmgr/logo/48/" + std::string(logo48);
}

std::string downloadFileName(const CatalogueRecord& r) {
    return safeFileName(r.displayname + "_" + r.versionname + ".exe");
}

std::string safeFileName(std::string_view name) {
    constexpr std::string_view kForbidden = "/\\<>:\"|?*";
    const std::string wanted = withoutBidiControls(name);
    std::string clean;
    for (std::size_t i = 0; i < wanted.size();) {
        std::size_t n = utf8SequenceLength(wanted, i);
        unsigned char c = static_cast<unsigned char>(wanted[i]);
        if (n == 0) {
            clean.push_back('_');
            ++i;
            continue;
        }
        if (n == 1 && (c < 0x20 || c == 0x7F || kForbidden.find(char(c)) != std::string_view::npos))
            clean.push_back('_');
        else
            clean.append(wanted.substr(i, n));
        i += n;
    }
    // ".." anywhere becomes "_." so no piece of the name can read as a parent folder.
    for (std::size_t pos; (pos = clean.find("..")) != std::string::npos;)
        clean[pos] = '_';
    // Windows drops trailing dots and spaces; leading ones hide the file or look like "..".
    while (!clean.empty() && (clean.back() == ' ' || clean.back() == '.'))
        clean.pop_back();
    while (!clean.empty() && (clean.front() == ' ' || clean.front() == '.'))
        clean.erase(clean.begin());

    std::string extension;
    std::size_t dot = clean.rfind('.');
    if (dot != std::string::npos && clean.size() - dot <= 8) {
        extension = clean.substr(dot);
        clean.erase(dot);
    }
    if (clean.empty())
        clean = "download";
    if (isReservedDeviceName(clean))
        clean.insert(clean.begin(), '_');
    std::size_t room = kMaxFileNameBytes - extension.size();
    if (clean.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80)
            --cut;
        clean.erase(cut);
        while (!clean.empty() && (clean.back() == ' ' || clean.back() == '.'))
            clean.pop_back();
    }
    return clean + extension;
}

} // namespace vantorel::catalogue
