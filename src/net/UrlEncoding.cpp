#include "net/UrlEncoding.h"

#include "common/Text.h"

namespace vantorel::net {

std::string percentEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high = i + 2 < text.size() ? hexDigitValue(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
        if (text[i] == '%' && high >= 0 && low >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (plusIsSpace && text[i] == '+') {
            out.push_back(' ');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace vantorel::net
