#pragma once
// Reads bytes as text in a named character set and gives the program's text (UTF-8).
//
// Names: "unicode" is UTF-16 little-endian (a leading FF FE is skipped), "unicodeFFFE" UTF-16
// big-endian, "utf-8" (a leading byte-order mark is skipped), "gbk", "gb2312" and "gb18030"
// (all read as their widest form, so every GBK byte pair decodes), "big5", "ascii", and any
// other name iconv knows. Case does not matter.

#include "common/Result.h"

#include <string>
#include <string_view>

namespace vantorel::net {

class CharsetConverter {
  public:
    // An unknown charset, or bytes that are not valid in it, give an error value (whose
    // message names the charset) and no text.
    static Result<std::string> to_text(std::string_view bytes, std::string_view charset);
};

} // namespace vantorel::net
