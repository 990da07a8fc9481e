#include "script/JsonPath.h"

#include "common/TextEncoding.h"

#include <charconv>
#include <limits>

namespace vantorel::script {

namespace {

constexpr std::size_t kMaxPathLength = 4096;

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}

Error malformed(std::string_view text, std::size_t at, std::string_view why) {
    return makeError("路径格式错误：“" + sanitizeUtf8(text) + "” 第 " + std::to_string(at + 1) +
                     " 个字符处" + std::string(why));
}

} // namespace

bool jsonIndexFromName(std::string_view name, std::size_t& index) {
    if (name.empty() || (name.size() > 1 && name[0] == '0'))
        return false;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), index);
    return ec == std::errc() && end == name.data() + name.size();
}

Result<JsonPath> parseJsonPath(std::string_view text) {
    if (text.size() > kMaxPathLength)
        return makeError("路径过长");
    JsonPath path;
    if (text.empty() || text == ".")
        return path;

    std::size_t i = 0;
    for (bool first = true; i < text.size(); first = false) {
        const char c = text[i];
        // The first step may omit its dot: "dom" reads like ".dom".
        if (c == '.' || (first && c != '[')) {
            const std::size_t start = c == '.' ? i + 1 : i;
            std::size_t end = start;
            if (end >= text.size() || !isNameStart(static_cast<unsigned char>(text[end])))
                return malformed(text, end, "应为成员名");
            while (end < text.size() && isNameChar(static_cast<unsigned char>(text[end])))
                ++end;
            path.emplace_back(sanitizeUtf8(text.substr(start, end - start)));
            i = end;
        } else if (c == '[') {
            std::size_t at = i + 1;
            if (at >= text.size())
                return malformed(text, at, "缺少“]”");
            if (text[at] == '"' || text[at] == '\'') {
                const char quote = text[at++];
                std::string name;
                while (at < text.size() && text[at] != quote) {
                    if (text[at] == '\\') {
                        if (at + 1 >= text.size())
                            break;
                        ++at;
                    }
                    name += text[at++];
                }
                if (at >= text.size())
                    return malformed(text, at, "缺少引号");
                ++at;
                path.emplace_back(sanitizeUtf8(name));
            } else {
                const std::size_t start = at;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                    ++at;
                std::size_t index = 0;
                if (at == start || !jsonIndexFromName(text.substr(start, at - start), index))
                    return malformed(text, start, "应为数组下标");
                path.emplace_back(index);
            }
            if (at >= text.size() || text[at] != ']')
                return malformed(text, at, "缺少“]”");
            i = at + 1;
        } else {
            return malformed(text, i, "应为“.”或“[”");
        }
    }
    return path;
}

namespace {

template <class Json> Json* step(Json* value, const JsonPathStep& s) {
    if (value == nullptr)
        return nullptr;
    if (const auto* name = std::get_if<std::string>(&s)) {
        if (value->is_object()) {
            const auto it = value->find(*name);
            return it == value->end() ? nullptr : &*it;
        }
        std::size_t index = 0;
        if (value->is_array() && jsonIndexFromName(*name, index) && index < value->size())
            return &(*value)[index];
        return nullptr;
    }
    const std::size_t index = std::get<std::size_t>(s);
    if (value->is_array())
        return index < value->size() ? &(*value)[index] : nullptr;
    if (value->is_object()) {
        const auto it = value->find(std::to_string(index));
        return it == value->end() ? nullptr : &*it;
    }
    return nullptr;
}

} // namespace

const nlohmann::ordered_json* findJsonValue(const nlohmann::ordered_json& root,
                                            const JsonPath& path) {
    const nlohmann::ordered_json* value = &root;
    for (const auto& s : path)
        value = step(value, s);
    return value;
}

nlohmann::ordered_json* findJsonValue(nlohmann::ordered_json& root, const JsonPath& path) {
    nlohmann::ordered_json* value = &root;
    for (const auto& s : path)
        value = step(value, s);
    return value;
}

} // namespace vantorel::script
