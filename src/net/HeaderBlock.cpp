#include "net/HeaderBlock.h"

#include <algorithm>

namespace vantorel::net {
namespace {

// Calls `each(line)` for every non-empty line; any of "\r\n", "\r", "\n" ends a line.
template <class F> void forEachLine(std::string_view block, F&& each) {
    std::size_t start = 0;
    while (start <= block.size()) {
        std::size_t end = block.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = block.size();
        std::string_view line = block.substr(start, end - start);
        if (!trimBlanks(line).empty())
            each(line);
        if (end < block.size() && block[end] == '\r' && end + 1 < block.size() &&
            block[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

std::string_view stripLineBreaks(std::string_view s) {
    while (!s.empty() && (s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<HeaderLine> splitHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = trimBlanks(line.substr(0, colon));
    if (name.empty())
        return std::nullopt;
    return HeaderLine{name, trimBlanks(line.substr(colon + 1))};
}

Result<std::vector<HeaderField>> parseHeaderBlock(std::string_view block) {
    std::vector<HeaderField> fields;
    std::string bad;
    forEachLine(block, [&](std::string_view line) {
        const auto field = splitHeaderLine(line);
        if (!field || field->name.find_first_of(" \t") != std::string_view::npos) {
            if (bad.empty())
                bad = std::string(line);
            return;
        }
        fields.push_back({std::string(field->name), std::string(field->value)});
    });
    if (!bad.empty())
        return makeError("请求头格式错误: " + bad);
    return fields;
}

std::vector<HeaderField> readHeaderBlock(std::string_view block) {
    std::vector<HeaderField> fields;
    forEachLine(block, [&](std::string_view line) {
        if (const auto field = splitHeaderLine(line))
            fields.push_back({std::string(field->name), std::string(field->value)});
    });
    return fields;
}

bool blockHasHeader(std::string_view block, std::string_view name) {
    bool found = false;
    forEachLine(block, [&](std::string_view line) {
        if (const auto field = splitHeaderLine(line); field && equalsIgnoreCase(field->name, name))
            found = true;
    });
    return found;
}

std::string headerValue(std::string_view block, std::string_view name) {
    auto values = headerValues(block, name);
    return values.empty() ? std::string() : values.front();
}

std::vector<std::string> headerValues(std::string_view block, std::string_view name) {
    std::vector<std::string> values;
    for (auto& field : readHeaderBlock(block))
        if (equalsIgnoreCase(field.name, name))
            values.push_back(std::move(field.value));
    return values;
}

std::string_view nameOfForm(std::string_view nameForm) {
    std::size_t colon = nameForm.find(':');
    return trimBlanks(nameForm.substr(0, colon));
}

std::string completeHeaderBlock(std::string_view callerBlock,
                                std::span<const DefaultHeader> defaults) {
    std::string block(stripLineBreaks(callerBlock));
    for (const auto& d : defaults) {
        if (blockHasHeader(callerBlock, nameOfForm(d.nameForm)))
            continue;
        if (!block.empty())
            block += "\r\n";
        block += stripLineBreaks(d.line);
    }
    return block;
}

} // namespace vantorel::net
