#pragma once
// Resolves the escapes that network replies carry, with JavaScript's unescape rules:
// "%uXXXX" (and "\uXXXX", taken the same way) is the UTF-16 code unit XXXX; "%XX" is the
// character U+00XX (a byte value, not part of a UTF-8 sequence: "%E4%B8%AD" is three
// characters); a "%" or "\u" that begins neither form stays as it is. Hex digits may be upper
// or lower case. Every other character, apostrophes and line breaks included, comes back
// unchanged. Surrogate pairs spelt as two "%u" escapes join into one character; a lone
// surrogate becomes U+FFFD.

#include <string>
#include <string_view>

namespace vantorel::net {

class EscapeDecoder {
  public:
    // UTF-8 in, UTF-8 out.
    static std::string decode(std::string_view text);
};

} // namespace vantorel::net
