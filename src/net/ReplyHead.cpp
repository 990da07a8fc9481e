#include "net/ReplyHead.h"

#include "common/Text.h"
#include "net/HeaderBlock.h"

#include <charconv>
#include <utility>

namespace vantorel::net {
namespace {

// A whole decimal number, nothing else.
std::optional<std::uint64_t> parseNumber(std::string_view text) {
    text = trimWhitespace(text);
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The header values a head keeps, by name.
constexpr std::pair<std::string_view, std::string ReplyHead::*> kKeptFields[] = {
    {"Content-Range", &ReplyHead::contentRange},
    {"Content-Encoding", &ReplyHead::contentEncoding},
    {"Content-Type", &ReplyHead::contentType},
    {"Accept-Ranges", &ReplyHead::acceptRanges},
    {"ETag", &ReplyHead::etag},
    {"Last-Modified", &ReplyHead::lastModified},
};

} // namespace

std::string_view withoutLineBreak(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

bool ReplyHead::take(std::string_view line) {
    line = withoutLineBreak(line);
    if (line.starts_with("HTTP/")) {
        // A new reply: an interim 1xx, a redirect hop or the final one.
        *this = ReplyHead{};
        statusLine = line;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos)
            status = static_cast<long>(parseNumber(line.substr(space + 1, 3)).value_or(0));
        return true;
    }
    if (line.empty()) {
        complete = true;
        return true;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        // An obsolete folded continuation belongs to the previous line.
        lines += line;
        return true;
    }
    if (!lines.empty())
        lines += "\r\n";
    lines += line;
    const auto field = splitHeaderLine(line);
    if (!field)
        return true;
    const auto [name, value] = *field;
    if (equalsIgnoreCase(name, "Content-Length"))
        length.take(value);
    for (const auto& [kept, member] : kKeptFields)
        if (equalsIgnoreCase(name, kept))
            this->*member = value;
    const auto join = [value](std::string& joined) {
        joined += joined.empty() ? "" : ", ";
        joined += value;
    };
    if (equalsIgnoreCase(name, "Link"))
        links.emplace_back(value);
    else if (equalsIgnoreCase(name, "Digest"))
        join(digest);
    else if (equalsIgnoreCase(name, "Repr-Digest"))
        join(reprDigest);
    return !length.bad();
}

bool ReplyHead::coded() const {
    return !contentEncoding.empty() && !equalsIgnoreCase(contentEncoding, "identity");
}

std::optional<ContentRange> parseContentRange(std::string_view text) {
    text = trimWhitespace(text);
    if (text.size() < 6 || !equalsIgnoreCase(text.substr(0, 5), "bytes") ||
        (text[5] != ' ' && text[5] != '='))
        return std::nullopt;
    text.remove_prefix(6);
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = parseNumber(text.substr(0, dash));
    const auto last = parseNumber(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last)
        return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    if (trimWhitespace(text.substr(slash + 1)) != "*") {
        range.total = parseNumber(text.substr(slash + 1));
        if (!range.total)
            return std::nullopt;
    }
    return range;
}

std::optional<std::uint64_t> unsatisfiedTotal(std::string_view text) {
    text = trimWhitespace(text);
    if (text.size() < 8 || !equalsIgnoreCase(text.substr(0, 5), "bytes") ||
        trimWhitespace(text.substr(6, 2)) != "*/")
        return std::nullopt;
    return parseNumber(text.substr(8));
}

} // namespace vantorel::net
