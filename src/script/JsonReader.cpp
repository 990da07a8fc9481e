#include "script/JsonReader.h"
#include "common/Text.h"

#include "common/TextEncoding.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace vantorel::script {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kMaxDepth = 512;

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    Result<Json> document() {
        skipSpace();
        // A leading byte-order mark is not part of the value.
        if (text_.substr(pos_, 3) == "\xEF\xBB\xBF")
            pos_ += 3;
        skipSpace();
        int parens = 0;
        while (peek() == '(') {
            ++pos_;
            ++parens;
            skipSpace();
            if (parens > 1)
                return fail("括号过多");
        }
        Json value;
        if (!readValue(value, 0))
            return error_;
        for (; parens > 0; --parens) {
            skipSpace();
            if (peek() != ')')
                return fail("缺少“)”");
            ++pos_;
        }
        skipSpace();
        if (pos_ != text_.size())
            return fail("值之后还有多余的内容");
        return value;
    }

  private:
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool atEnd() const { return pos_ >= text_.size(); }

    Error fail(std::string_view why) {
        error_ = makeError("JSON 文本无效：第 " + std::to_string(pos_ + 1) + " 个字节处" +
                           std::string(why));
        return error_;
    }
    bool failed(std::string_view why) {
        fail(why);
        return false;
    }

    void skipSpace() {
        while (!atEnd()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
                ++pos_;
            else
                break;
        }
    }

    bool readValue(Json& out, int depth) {
        if (depth > kMaxDepth)
            return failed("嵌套层次过深");
        skipSpace();
        if (atEnd())
            return failed("文本意外结束");
        const char c = peek();
        if (c == '{')
            return readObject(out, depth);
        if (c == '[')
            return readArray(out, depth);
        if (c == '"' || c == '\'') {
            std::string s;
            if (!readString(s))
                return false;
            out = std::move(s);
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return readNumber(out);
        if (readWord("true"))
            return out = true, true;
        if (readWord("false"))
            return out = false, true;
        if (readWord("null"))
            return out = nullptr, true;
        return failed("应为 JSON 值");
    }

    bool readWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word)
            return false;
        const std::size_t after = pos_ + word.size();
        if (after < text_.size() && isNameChar(static_cast<unsigned char>(text_[after])))
            return false;
        pos_ = after;
        return true;
    }

    static bool isNameStart(unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' ||
               c >= 0x80;
    }
    static bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

    bool readObject(Json& out, int depth) {
        ++pos_; // '{'
        out = Json::object();
        skipSpace();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string name;
            const char c = peek();
            if (c == '"' || c == '\'') {
                if (!readString(name))
                    return false;
            } else if (isNameStart(static_cast<unsigned char>(c))) {
                const std::size_t start = pos_;
                while (!atEnd() && isNameChar(static_cast<unsigned char>(text_[pos_])))
                    ++pos_;
                name = sanitizeUtf8(text_.substr(start, pos_ - start));
            } else if (c >= '0' && c <= '9') {
                const std::size_t start = pos_;
                while (!atEnd() && text_[pos_] >= '0' && text_[pos_] <= '9')
                    ++pos_;
                name = std::string(text_.substr(start, pos_ - start));
            } else {
                return failed("应为成员名");
            }
            skipSpace();
            if (peek() != ':')
                return failed("成员名之后应为“:”");
            ++pos_;
            Json value;
            if (!readValue(value, depth + 1))
                return false;
            // A repeated name keeps its first place and takes the last value.
            out[name] = std::move(value);
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return failed("对象中应为“,”或“}”");
        }
    }

    bool readArray(Json& out, int depth) {
        ++pos_; // '['
        out = Json::array();
        skipSpace();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Json value;
            if (!readValue(value, depth + 1))
                return false;
            out.push_back(std::move(value));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return failed("数组中应为“,”或“]”");
        }
    }

    bool readHex(std::size_t digits, std::uint32_t& value) {
        value = 0;
        if (pos_ + digits > text_.size())
            return false;
        for (std::size_t k = 0; k < digits; ++k) {
            const int h = hexDigitValue(text_[pos_ + k]);
            if (h < 0)
                return false;
            value = value * 16 + static_cast<std::uint32_t>(h);
        }
        pos_ += digits;
        return true;
    }

    bool readString(std::string& out) {
        const char quote = text_[pos_++];
        std::u16string units; // \u escapes are UTF-16 units; pairs join when converted
        std::string raw;
        const auto flushUnits = [&] {
            if (!units.empty()) {
                raw += utf16ToUtf8(units);
                units.clear();
            }
        };
        for (;;) {
            if (atEnd())
                return failed("文本未结束");
            const char c = text_[pos_];
            if (c == quote) {
                ++pos_;
                break;
            }
            if (c == '\n' || c == '\r')
                return failed("文本中有换行");
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                return failed("文本中有控制字符");
            if (c != '\\') {
                flushUnits();
                raw += c;
                ++pos_;
                continue;
            }
            ++pos_;
            if (atEnd())
                return failed("文本未结束");
            const char e = text_[pos_++];
            if (e == 'u') {
                std::uint32_t unit = 0;
                if (!readHex(4, unit))
                    return failed("“\\u”之后应为四位十六进制数");
                units += static_cast<char16_t>(unit);
                continue;
            }
            flushUnits();
            switch (e) {
            case '"':
            case '\'':
            case '\\':
            case '/':
                raw += e;
                break;
            case 'b':
                raw += '\b';
                break;
            case 'f':
                raw += '\f';
                break;
            case 'n':
                raw += '\n';
                break;
            case 'r':
                raw += '\r';
                break;
            case 't':
                raw += '\t';
                break;
            case 'v':
                raw += '\v';
                break;
            case '0':
                if (peek() >= '0' && peek() <= '9')
                    return failed("不支持八进制转义");
                raw += '\0';
                break;
            case 'x': {
                std::uint32_t byte = 0;
                if (!readHex(2, byte))
                    return failed("“\\x”之后应为两位十六进制数");
                raw += utf16ToUtf8(std::u16string(1, static_cast<char16_t>(byte)));
                break;
            }
            default:
                return failed("无效的转义");
            }
        }
        flushUnits();
        out = sanitizeUtf8(raw);
        return true;
    }

    bool readNumber(Json& out) {
        const std::size_t start = pos_;
        bool integral = true;
        if (peek() == '-')
            ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        } else {
            return failed("数字格式错误");
        }
        if (peek() == '.') {
            integral = false;
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9'))
                return failed("小数点后应为数字");
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            integral = false;
            ++pos_;
            if (peek() == '+' || peek() == '-')
                ++pos_;
            if (!(peek() >= '0' && peek() <= '9'))
                return failed("指数应为数字");
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        }
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        if (integral) {
            if (*first == '-') {
                std::int64_t v = 0;
                if (std::from_chars(first, last, v).ec == std::errc()) {
                    // "-0" is the number zero; the integer form would lose nothing else.
                    out = v;
                    return true;
                }
            } else {
                std::uint64_t v = 0;
                if (std::from_chars(first, last, v).ec == std::errc()) {
                    if (v <= static_cast<std::uint64_t>(INT64_MAX))
                        out = static_cast<std::int64_t>(v);
                    else
                        out = v;
                    return true;
                }
            }
        }
        double d = 0;
        const auto [end, ec] = std::from_chars(first, last, d);
        if (end != last || (ec != std::errc() && ec != std::errc::result_out_of_range))
            return failed("数字格式错误");
        if (ec == std::errc::result_out_of_range) {
            // Too large becomes infinity (written back as null), too small becomes zero.
            bool hugeExponent = false;
            for (const char* p = first; p != last; ++p) {
                if (*p == 'e' || *p == 'E') {
                    hugeExponent = p[1] != '-';
                    break;
                }
            }
            d = hugeExponent || integral ? HUGE_VAL : 0.0;
            if (*first == '-')
                d = -d;
        }
        out = d;
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    Error error_;
};

} // namespace

Result<nlohmann::ordered_json> readJson(std::string_view text) {
    return Reader(text).document();
}

} // namespace vantorel::script
