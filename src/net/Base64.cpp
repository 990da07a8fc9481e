#include "net/Base64.h"

namespace vantorel::net {

std::string base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = (unsigned(static_cast<unsigned char>(bytes[i])) << 16) |
                     (unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                     unsigned(static_cast<unsigned char>(bytes[i + 2]));
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    for (int i = 0; i < 2 && text.ends_with('='); ++i)
        text.remove_suffix(1);
    if (text.size() % 4 == 1)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() * 3 / 4);
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        unsigned v;
        if (c >= 'A' && c <= 'Z')
            v = static_cast<unsigned>(c - 'A');
        else if (c >= 'a' && c <= 'z')
            v = static_cast<unsigned>(c - 'a') + 26;
        else if (c >= '0' && c <= '9')
            v = static_cast<unsigned>(c - '0') + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            return std::nullopt;
        bits = (bits << 6) | v;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

} // namespace vantorel::net
