#include "common/FileName.h"

#include "common/TextEncoding.h"

#include <algorithm>
#include <array>

namespace vantorel {
namespace {

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

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

std::string safeFileName(std::string_view name, UnsafeName unsafe) {
    constexpr std::string_view kForbidden = "/\\<>:\"|?*";
    const std::string wanted = withoutBidiControls(name);
    if (unsafe == UnsafeName::Refuse) {
        if (wanted.empty() || wanted == "." || wanted == ".." ||
            std::ranges::any_of(wanted, isControl) ||
            wanted.find_first_of("/\\") != std::string::npos)
            return std::string(kFallbackFileName);
        return wanted;
    }
    std::string clean;
    for (std::size_t i = 0; i < wanted.size();) {
        std::size_t n = utf8SequenceLength(wanted, i);
        unsigned char c = static_cast<unsigned char>(wanted[i]);
        if (n == 0) {
            clean.push_back('_');
            ++i;
            continue;
        }
        if (n == 1 && (isControl(char(c)) || kForbidden.find(char(c)) != std::string_view::npos))
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
        clean = kFallbackFileName;
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

std::filesystem::path folderOf(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

} // namespace vantorel
