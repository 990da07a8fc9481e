#include "net/EscapeDecoder.h"

#include "common/Text.h"
#include "common/TextEncoding.h"

namespace vantorel::net {

namespace {

// The value of `count` hex digits at text[at], or -1 when they are not all there.
long hexAt(std::u16string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return -1;
    long value = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int h = hexDigitValue(text[at + k]);
        if (h < 0)
            return -1;
        value = value * 16 + h;
    }
    return value;
}

} // namespace

std::string EscapeDecoder::decode(std::string_view text) {
    // Escapes name UTF-16 code units, so decode over units; pairs spelt as two "%u" escapes
    // then join when the result goes back to UTF-8.
    const std::u16string in = utf8ToUtf16(text);
    std::u16string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const char16_t c = in[i];
        if ((c == u'%' || c == u'\\') && i + 1 < in.size() && in[i + 1] == u'u') {
            if (const long unit = hexAt(in, i + 2, 4); unit >= 0) {
                out += static_cast<char16_t>(unit);
                i += 6;
                continue;
            }
        }
        if (c == u'%') {
            if (const long byte = hexAt(in, i + 1, 2); byte >= 0) {
                out += static_cast<char16_t>(byte);
                i += 3;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return utf16ToUtf8(out);
}

} // namespace vantorel::net
