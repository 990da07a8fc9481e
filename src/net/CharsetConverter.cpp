#include "net/CharsetConverter.h"

#include "common/TextEncoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vantorel::net {

namespace {

struct Alias {
    std::string_view name; // lower case, as callers and servers write it
    std::string_view iconvName;
    std::string_view byteOrderMark; // skipped when the bytes start with it
};

// Names whose iconv reading differs from what a Windows text stream gives: "unicode" is
// little-endian UTF-16 (iconv would guess big-endian), and the GB2312/GBK family is read as
// code page 936 because pages labelled gb2312 routinely hold GBK characters.
constexpr std::array kAliases{
    Alias{"unicode", "UTF-16LE", "\xFF\xFE"},
    Alias{"utf-16", "UTF-16LE", "\xFF\xFE"},
    Alias{"utf-16le", "UTF-16LE", "\xFF\xFE"},
    Alias{"ucs-2", "UTF-16LE", "\xFF\xFE"},
    Alias{"unicodefffe", "UTF-16BE", "\xFE\xFF"},
    Alias{"utf-16be", "UTF-16BE", "\xFE\xFF"},
    Alias{"utf-8", "UTF-8", "\xEF\xBB\xBF"},
    Alias{"utf8", "UTF-8", "\xEF\xBB\xBF"},
    Alias{"gbk", "CP936", ""},
    Alias{"gb2312", "CP936", ""},
    Alias{"cp936", "CP936", ""},
    Alias{"x-gbk", "CP936", ""},
    Alias{"windows-936", "CP936", ""},
    Alias{"big5", "CP950", ""},
    Alias{"ascii", "US-ASCII", ""},
};

} // namespace

Result<std::string> CharsetConverter::to_text(std::string_view bytes, std::string_view charset) {
    std::string lower(charset);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    std::string_view iconvName = charset;
    for (const Alias& alias : kAliases) {
        if (alias.name == lower) {
            iconvName = alias.iconvName;
            if (!alias.byteOrderMark.empty() && bytes.starts_with(alias.byteOrderMark))
                bytes.remove_prefix(alias.byteOrderMark.size());
            break;
        }
    }
    auto converter = IconvConverter::open("UTF-8", iconvName);
    if (!converter)
        return makeError("不支持的字符集：" + sanitizeUtf8(charset));
    auto text = converter->convert(bytes);
    if (!text)
        return makeError("内容不是有效的 " + sanitizeUtf8(charset) + " 文本（" +
                         text.error().message + "）");
    return text;
}

} // namespace vantorel::net
