#include "script/JsonObject.h"

#include "common/TextEncoding.h"
#include "script/JsonPath.h"
#include "script/JsonReader.h"
#include "script/JsonWriter.h"

#include <algorithm>

namespace vantorel::script {

namespace {

using Json = nlohmann::ordered_json;

// An index may extend an array with nulls, but not without bound: a stray large index must not
// make the document (and its text) huge.
constexpr std::size_t kMaxArrayLength = 1 << 20;

std::string indentText(const JsonIndent& indent) {
    if (const int* spaces = std::get_if<int>(&indent))
        return std::string(static_cast<std::size_t>(std::clamp(*spaces, 0, 10)), ' ');
    if (const std::string* text = std::get_if<std::string>(&indent)) {
        // The first ten characters (not bytes), so a multi-byte character is never cut.
        const std::u16string units = utf8ToUtf16(*text);
        std::size_t end = 0;
        for (int n = 0; n < 10 && end < units.size(); ++n)
            end += (units[end] >= 0xD800 && units[end] <= 0xDBFF && end + 1 < units.size()) ? 2 : 1;
        return utf16ToUtf8(std::u16string_view(units).substr(0, end));
    }
    return {};
}

Error noParent(std::string_view path) {
    return makeError("路径“" + sanitizeUtf8(path) + "”的上一级不存在或不是对象、数组");
}

// Stores `value` at the place a path names, creating the last member when its parent is an
// object and extending an array with nulls up to an index.
Status store(Json& root, JsonPath path, std::string_view pathText, Json value) {
    if (path.empty()) {
        root = std::move(value);
        return {};
    }
    const JsonPathStep last = path.back();
    path.pop_back();
    Json* parent = findJsonValue(root, path);
    if (parent == nullptr)
        return noParent(pathText);
    if (parent->is_object()) {
        const auto* name = std::get_if<std::string>(&last);
        (*parent)[name ? *name : std::to_string(std::get<std::size_t>(last))] = std::move(value);
        return {};
    }
    if (parent->is_array()) {
        std::size_t index = 0;
        if (const auto* name = std::get_if<std::string>(&last)) {
            if (!jsonIndexFromName(*name, index))
                return makeError("数组没有成员“" + *name + "”");
        } else {
            index = std::get<std::size_t>(last);
        }
        if (index >= kMaxArrayLength)
            return makeError("数组下标过大：" + std::to_string(index));
        if (index >= parent->size()) {
            while (parent->size() < index)
                parent->push_back(nullptr);
            parent->push_back(std::move(value));
        } else {
            (*parent)[index] = std::move(value);
        }
        return {};
    }
    return noParent(pathText);
}

Status store(Json& root, std::string_view pathText, Json value) {
    auto path = parseJsonPath(pathText);
    if (!path)
        return path.error();
    return store(root, std::move(path.value()), pathText, std::move(value));
}

} // namespace

JsonObject::JsonObject() : doc_(Json::object()) {}

void JsonObject::create() {
    doc_ = Json::object();
}

bool JsonObject::parse(std::string_view text) {
    auto parsed = readJson(text);
    if (!parsed) {
        lastError_ = parsed.error();
        return false;
    }
    doc_ = std::move(parsed.value());
    lastError_ = {};
    return true;
}

void JsonObject::clear() {
    doc_ = nullptr;
}

Status JsonObject::check_path(std::string_view path) {
    const auto parsed = parseJsonPath(path);
    if (!parsed)
        return parsed.error();
    return {};
}

namespace {

const Json* lookup(const Json& doc, std::string_view pathText) {
    const auto path = parseJsonPath(pathText);
    return path ? findJsonValue(doc, *path) : nullptr;
}

} // namespace

std::string JsonObject::get_text(std::string_view path) const {
    const Json* value = lookup(doc_, path);
    if (value == nullptr || value->is_null())
        return {};
    if (value->is_string())
        return value->get<std::string>();
    return writeJson(*value);
}

bool JsonObject::exists(std::string_view path) const {
    const Json* value = lookup(doc_, path);
    return value != nullptr && !value->is_null();
}

JsonType JsonObject::type_of(std::string_view path) const {
    const Json* value = lookup(doc_, path);
    if (value == nullptr)
        return JsonType::None;
    if (value->is_string())
        return JsonType::Text;
    if (value->is_number())
        return JsonType::Number;
    if (value->is_boolean())
        return JsonType::Logical;
    return JsonType::Object; // object, array and null
}

int JsonObject::count(std::string_view path) const {
    const Json* value = lookup(doc_, path);
    if (value == nullptr || value->is_null())
        return 0;
    if (value->is_object() || value->is_array())
        return static_cast<int>(value->size());
    return 1;
}

std::string JsonObject::to_text(std::string_view path, const JsonIndent& indent) const {
    const Json* value = lookup(doc_, path);
    if (value == nullptr)
        return {};
    return writeJson(*value, indentText(indent));
}

std::vector<std::string> JsonObject::keys(std::string_view path) const {
    std::vector<std::string> names;
    const Json* value = lookup(doc_, path);
    if (value == nullptr)
        return names;
    if (value->is_object()) {
        for (const auto& [name, member] : value->items())
            names.push_back(name);
    } else if (value->is_array()) {
        for (std::size_t i = 0; i < value->size(); ++i)
            names.push_back(std::to_string(i));
    }
    return names;
}

Status JsonObject::set_text(std::string_view path, std::string_view text) {
    return store(doc_, path, Json(sanitizeUtf8(text)));
}

Status JsonObject::set_json(std::string_view path, std::string_view json) {
    auto value = readJson(json);
    if (!value)
        return value.error();
    return store(doc_, path, std::move(value.value()));
}

Status JsonObject::set_element(std::string_view path, int index, std::string_view json) {
    if (index < 0)
        return makeError("数组下标不能为负数：" + std::to_string(index));
    auto parsedPath = parseJsonPath(path);
    if (!parsedPath)
        return parsedPath.error();
    auto value = readJson(json);
    if (!value)
        return value.error();
    const Json* target = findJsonValue(doc_, *parsedPath);
    if (target == nullptr || !(target->is_array() || target->is_object()))
        return makeError("路径“" + sanitizeUtf8(path) + "”处不是数组或对象");
    // The element is addressed as one more step of the path.
    parsedPath->emplace_back(static_cast<std::size_t>(index));
    return store(doc_, std::move(parsedPath.value()), path, std::move(value.value()));
}

Status JsonObject::new_array(std::string_view path) {
    return store(doc_, path, Json::array());
}

Status JsonObject::push(std::string_view path, std::string_view json) {
    auto parsedPath = parseJsonPath(path);
    if (!parsedPath)
        return parsedPath.error();
    auto value = readJson(json);
    if (!value)
        return value.error();
    Json* target = findJsonValue(doc_, *parsedPath);
    if (target == nullptr || !target->is_array()) {
        if (auto made = store(doc_, path, Json::array()); !made)
            return made;
        target = findJsonValue(doc_, *parsedPath);
    }
    if (target->size() >= kMaxArrayLength)
        return makeError("数组过长");
    target->push_back(std::move(value.value()));
    return {};
}

Status JsonObject::remove_at(std::string_view path, int index) {
    auto parsedPath = parseJsonPath(path);
    if (!parsedPath)
        return parsedPath.error();
    Json* target = findJsonValue(doc_, *parsedPath);
    if (target == nullptr || !target->is_array())
        return makeError("路径“" + sanitizeUtf8(path) + "”处不是数组");
    if (index >= 0 && static_cast<std::size_t>(index) < target->size())
        target->erase(static_cast<std::size_t>(index));
    return {};
}

} // namespace vantorel::script
