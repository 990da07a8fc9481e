#pragma once
// Conversions between the program's text (UTF-8), UTF-16 (regular expressions, positions) and
// the byte encodings that leave or enter the program (GBK for the settings file and proxy
// credentials, any charset a server names).

#include "common/Result.h"

#include <iconv.h>

#include <string>
#include <string_view>

namespace vantorel {

// Never fail: a byte or unit that is not valid UTF-8 / UTF-16 (a stray byte, an overlong form,
// an encoded surrogate, a lone surrogate) becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
bool isValidUtf8(std::string_view text);
// Replaces every invalid sequence by U+FFFD; valid text comes back unchanged.
std::string sanitizeUtf8(std::string_view text);

// GBK as Windows code page 936 has it (0x80 is the euro sign). A character without a GBK form,
// or bytes that are not GBK, give an error naming the problem; nothing is dropped silently.
Result<std::string> utf8ToGbk(std::string_view text);
Result<std::string> gbkToUtf8(std::string_view bytes);

// One iconv conversion descriptor, owned. Charset names are iconv's ("UTF-16LE", "GBK", ...);
// names carrying iconv suffixes ("//IGNORE", "//TRANSLIT") are refused so that a conversion
// never drops or alters characters unnoticed.
class IconvConverter {
  public:
    static Result<IconvConverter> open(std::string_view toCharset, std::string_view fromCharset);

    IconvConverter(IconvConverter&& other) noexcept;
    IconvConverter& operator=(IconvConverter&& other) noexcept;
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;
    ~IconvConverter();

    // Converts the whole input; an invalid or incomplete sequence, or a character the target
    // cannot hold, is an error with its byte offset in the message.
    Result<std::string> convert(std::string_view input);

  private:
    IconvConverter(iconv_t cd, std::string from, std::string to);

    iconv_t cd_;
    std::string from_;
    std::string to_;
};

// Shorthand for IconvConverter::open(to, from) followed by convert(input).
Result<std::string> convertCharset(std::string_view input, std::string_view fromCharset,
                                   std::string_view toCharset);

} // namespace vantorel
