#include "cli/TerminalText.h"

#include "common/TextEncoding.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>

namespace vantorel::cli {
namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Characters a terminal draws two columns wide (East Asian Wide and Fullwidth).
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Characters drawn on top of the one before them, or not at all.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2060, 0x2064},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
};

template <std::size_t N> bool within(const Range (&ranges)[N], char32_t c) {
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [c](const Range& r) { return c >= r.first && c <= r.last; });
}

std::size_t columnsOf(char32_t c) {
    return within(kZeroWidth, c) ? 0 : within(kWide, c) ? 2 : 1;
}

bool steersTerminal(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// Calls `each(codePoint, bytes)` for every character of valid UTF-8 text.
template <class Each> void forEachCharacter(std::string_view text, Each each) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n && i + k < text.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        each(c, text.substr(i, n));
        i += n;
    }
}

} // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    forEachCharacter(sanitizeUtf8(text), [&out](char32_t c, std::string_view bytes) {
        if (c == '\t' || c == '\r' || c == '\n') {
            out += ' ';
        } else if (steersTerminal(c)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += bytes;
        }
    });
    return out;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    forEachCharacter(text, [&width](char32_t c, std::string_view) { width += columnsOf(c); });
    return width;
}

std::string cutToWidth(std::string_view text, std::size_t width) {
    std::string out;
    std::size_t used = 0;
    bool full = false;
    forEachCharacter(text, [&](char32_t c, std::string_view bytes) {
        full = full || used + columnsOf(c) > width;
        if (full)
            return;
        used += columnsOf(c);
        out += bytes;
    });
    return out;
}

std::string shortenMiddle(std::string_view text, std::size_t width) {
    if (displayWidth(text) <= width)
        return std::string(text);
    if (width == 0)
        return {};
    constexpr std::string_view kEllipsis = "…";
    // The end gets the smaller half, so the start (what tells names apart) keeps more.
    const std::size_t room = width - 1;
    const std::size_t tailWidth = room / 2;
    std::vector<std::string_view> characters;
    forEachCharacter(text, [&](char32_t, std::string_view bytes) { characters.push_back(bytes); });
    std::string tail;
    std::size_t used = 0;
    for (auto it = characters.rbegin(); it != characters.rend(); ++it) {
        const std::size_t w = displayWidth(*it);
        if (used + w > tailWidth)
            break;
        used += w;
        tail.insert(0, *it);
    }
    return cutToWidth(text, room - used) + std::string(kEllipsis) + tail;
}

std::optional<std::size_t> terminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return std::nullopt;
    return size.ws_col;
}

std::string alignedTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        auto& safe = cells.emplace_back();
        for (std::size_t column = 0; column < row.size(); ++column) {
            safe.push_back(terminalSafe(row[column]));
            if (widths.size() <= column)
                widths.push_back(0);
            widths[column] = std::max(widths[column], displayWidth(safe.back()));
        }
    }
    std::string out;
    for (const auto& row : cells) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            out += row[column];
            if (column + 1 < row.size())
                out.append(widths[column] - displayWidth(row[column]) + 2, ' ');
        }
        out += '\n';
    }
    return out;
}

} // namespace vantorel::cli
