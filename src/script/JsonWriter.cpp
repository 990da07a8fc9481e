#include "script/JsonWriter.h"

#include "common/TextEncoding.h"

#include <charconv>
#include <cmath>

namespace vantorel::script {

namespace {

using Json = nlohmann::ordered_json;

bool needsUnicodeEscape(char32_t c) {
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x600 && c <= 0x604) ||
           c == 0x70F || c == 0x17B4 || c == 0x17B5 || (c >= 0x200C && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF0 && c <= 0xFFFF);
}

void writeString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    // Work per UTF-16 unit so that every escaped character is in the BMP and text stays whole.
    const std::u16string units = utf8ToUtf16(text);
    std::size_t runStart = 0; // start of characters copied as they are
    const auto flush = [&](std::size_t end) {
        if (end > runStart)
            out += utf16ToUtf8(std::u16string_view(units).substr(runStart, end - runStart));
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        const char* shortForm = nullptr;
        switch (c) {
        case u'\b':
            shortForm = "\\b";
            break;
        case u'\t':
            shortForm = "\\t";
            break;
        case u'\n':
            shortForm = "\\n";
            break;
        case u'\f':
            shortForm = "\\f";
            break;
        case u'\r':
            shortForm = "\\r";
            break;
        case u'"':
            shortForm = "\\\"";
            break;
        case u'\\':
            shortForm = "\\\\";
            break;
        default:
            break;
        }
        if (shortForm == nullptr && !needsUnicodeEscape(c))
            continue;
        flush(i);
        runStart = i + 1;
        if (shortForm != nullptr) {
            out += shortForm;
        } else {
            out += "\\u";
            out += kHex[(c >> 12) & 0xF];
            out += kHex[(c >> 8) & 0xF];
            out += kHex[(c >> 4) & 0xF];
            out += kHex[c & 0xF];
        }
    }
    flush(units.size());
    out += '"';
}

void newline(std::string& out, std::string_view indent, int depth) {
    out += '\n';
    for (int d = 0; d < depth; ++d)
        out += indent;
}

void writeValue(std::string& out, const Json& value, std::string_view indent, int depth) {
    switch (value.type()) {
    case Json::value_t::object: {
        if (value.empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
            if (!first)
                out += ',';
            first = false;
            if (!indent.empty())
                newline(out, indent, depth + 1);
            writeString(out, name);
            out += indent.empty() ? ":" : ": ";
            writeValue(out, member, indent, depth + 1);
        }
        if (!indent.empty())
            newline(out, indent, depth);
        out += '}';
        return;
    }
    case Json::value_t::array: {
        if (value.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out += ',';
            first = false;
            if (!indent.empty())
                newline(out, indent, depth + 1);
            writeValue(out, element, indent, depth + 1);
        }
        if (!indent.empty())
            newline(out, indent, depth);
        out += ']';
        return;
    }
    case Json::value_t::string:
        writeString(out, value.get_ref<const std::string&>());
        return;
    case Json::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        return;
    case Json::value_t::number_integer:
        out += std::to_string(value.get<std::int64_t>());
        return;
    case Json::value_t::number_unsigned:
        out += std::to_string(value.get<std::uint64_t>());
        return;
    case Json::value_t::number_float:
        out += javaScriptNumber(value.get<double>());
        return;
    case Json::value_t::null:
    case Json::value_t::binary:
    case Json::value_t::discarded:
        out += "null";
        return;
    }
}

} // namespace

std::string javaScriptNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    if (value == 0)
        return "0";
    if (value < 0)
        return "-" + javaScriptNumber(-value);
    // Shortest round-trip digits and their decimal exponent, then JavaScript's layout.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.')
            digits += c;
    }
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(),
                    exponent);
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1;
    if (k <= n && n <= 21)
        return digits + std::string(static_cast<std::size_t>(n - k), '0');
    if (0 < n && n <= 21)
        return digits.substr(0, static_cast<std::size_t>(n)) + "." +
               digits.substr(static_cast<std::size_t>(n));
    if (-6 < n && n <= 0)
        return "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
    std::string out = digits.substr(0, 1);
    if (k > 1)
        out += "." + digits.substr(1);
    out += n - 1 >= 0 ? "e+" : "e-";
    out += std::to_string(n - 1 >= 0 ? n - 1 : 1 - n);
    return out;
}

std::string writeJson(const nlohmann::ordered_json& value, std::string_view indent) {
    std::string out;
    writeValue(out, value, indent, 0);
    return out;
}

} // namespace vantorel::script
