#pragma once
// Small ASCII text helpers shared by the protocol code: header names, schemes and charset names
// are compared without regard to case, values are trimmed of blanks, escapes read hex digits.

#include <algorithm>
#include <string_view>

namespace vantorel {

constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

constexpr bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

constexpr bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// Without spaces and tabs at either end.
constexpr std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Without spaces, tabs, carriage returns and line feeds at either end.
constexpr std::string_view trimWhitespace(std::string_view s) {
    constexpr std::string_view kSpace = " \t\r\n";
    while (!s.empty() && kSpace.find(s.front()) != std::string_view::npos)
        s.remove_prefix(1);
    while (!s.empty() && kSpace.find(s.back()) != std::string_view::npos)
        s.remove_suffix(1);
    return s;
}

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
constexpr int hexDigitValue(char32_t c) {
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}

} // namespace vantorel
