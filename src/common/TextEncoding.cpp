#include "common/TextEncoding.h"

#include <cerrno>
#include <utility>

namespace vantorel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; advances i past it (by one byte when invalid, so the
// next valid character is never swallowed) and returns U+FFFD for anything malformed.
char32_t decodeUtf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isSafeCharsetName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

bool isUtf8Name(std::string_view name) {
    std::string lower;
    for (char c : name)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower == "utf-8" || lower == "utf8";
}

} // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = decodeUtf8(text, i);
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        // A malformed sequence yields U+FFFD and one byte; a real U+FFFD is three bytes.
        if (decodeUtf8(text, i) == kReplacement && i == start + 1)
            return false;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view text) {
    if (isValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t i = 0;
    while (i < text.size())
        appendUtf8(out, decodeUtf8(text, i));
    return out;
}

Result<std::string> utf8ToGbk(std::string_view text) {
    if (!isValidUtf8(text))
        return makeError("文本不是有效的 UTF-8，无法转换为 GBK");
    return convertCharset(text, "UTF-8", "CP936");
}

Result<std::string> gbkToUtf8(std::string_view bytes) {
    return convertCharset(bytes, "CP936", "UTF-8");
}

IconvConverter::IconvConverter(iconv_t cd, std::string from, std::string to)
    : cd_(cd), from_(std::move(from)), to_(std::move(to)) {}

IconvConverter::IconvConverter(IconvConverter&& other) noexcept
    : cd_(std::exchange(other.cd_, reinterpret_cast<iconv_t>(-1))), from_(std::move(other.from_)),
      to_(std::move(other.to_)) {}

IconvConverter& IconvConverter::operator=(IconvConverter&& other) noexcept {
    if (this != &other) {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
        cd_ = std::exchange(other.cd_, reinterpret_cast<iconv_t>(-1));
        from_ = std::move(other.from_);
        to_ = std::move(other.to_);
    }
    return *this;
}

IconvConverter::~IconvConverter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd_);
}

Result<IconvConverter> IconvConverter::open(std::string_view toCharset,
                                            std::string_view fromCharset) {
    for (std::string_view name : {toCharset, fromCharset}) {
        if (!isSafeCharsetName(name))
            return makeError("不支持的字符集：" + sanitizeUtf8(name));
    }
    std::string to(toCharset);
    std::string from(fromCharset);
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        const std::string unknown = errno == EINVAL ? from + " → " + to : from;
        return makeError("不支持的字符集：" + unknown);
    }
    return IconvConverter(cd, std::move(from), std::move(to));
}

Result<std::string> IconvConverter::convert(std::string_view input) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr); // fresh shift state for every call
    std::string out;
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data()); // iconv's interface is not const-correct
    std::size_t inLeft = input.size();
    std::size_t used = 0;
    const auto fail = [&](const char* what) -> Result<std::string> {
        const std::size_t offset = input.size() - inLeft;
        return makeError("无法按 " + from_ + " 转换为 " + to_ + "：第 " + std::to_string(offset) +
                         " 字节" + what);
    };
    // The final call with a null input flushes any pending shift sequence.
    for (bool flushing = false;;) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t rc = flushing ? iconv(cd_, nullptr, nullptr, &outPtr, &outLeft)
                                        : iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (errno == EILSEQ)
            return fail("处有无效或无法表示的字符");
        if (errno == EINVAL)
            return fail("处的字符不完整");
        return fail("处转换失败");
    }
    // glibc counts characters it had to approximate in rc; with no suffix on the names it
    // refuses them with EILSEQ instead, so reaching here means an exact conversion.
    out.resize(used);
    // glibc's UTF-8 decoder lets code points beyond U+10FFFF through; the program's text
    // must stay valid UTF-8.
    if (isUtf8Name(to_) && !isValidUtf8(out))
        return makeError("无法按 " + from_ + " 转换为 " + to_ + "：内容含有无效字符");
    return out;
}

Result<std::string> convertCharset(std::string_view input, std::string_view fromCharset,
                                   std::string_view toCharset) {
    auto converter = IconvConverter::open(toCharset, fromCharset);
    if (!converter)
        return converter.error();
    return converter->convert(input);
}

} // namespace vantorel
