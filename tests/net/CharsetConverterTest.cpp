#include "net/CharsetConverter.h"

#include <gtest/gtest.h>

using vantorel::net::CharsetConverter;

namespace {

std::string text(std::string_view bytes, std::string_view charset) {
    auto result = CharsetConverter::to_text(bytes, charset);
    EXPECT_TRUE(result.ok()) << charset << ": " << result.error().message;
    return result ? *result : std::string("<failed>");
}

} // namespace

TEST(CharsetConverter, ReadsTheNamedCharsets) {
    EXPECT_EQ(text(std::string("\x2D\x4E", 2), "unicode"), "中");
    EXPECT_EQ(text(std::string("\xFF\xFE\x2D\x4E\x41\x00", 6), "Unicode"), "中A");
    EXPECT_EQ(text(std::string("\x4E\x2D", 2), "unicodeFFFE"), "中");
    EXPECT_EQ(text("\xEF\xBB\xBF中", "utf-8"), "中");
    EXPECT_EQ(text("\xD6\xD0\x80", "gbk"), "中€");
    EXPECT_EQ(text("\x81\x40", "GB2312"), "丂"); // a GBK-only character in a gb2312 page
    EXPECT_EQ(text("\x81\x30\x81\x30", "gb18030"), "\u0080");
    EXPECT_EQ(text("\xA4\xA4", "big5"), "中");
    EXPECT_EQ(text("\xE9", "ISO-8859-1"), "é");
    EXPECT_EQ(text("", "gbk"), "");
}

TEST(CharsetConverter, BadNamesAndBadBytesGiveAnErrorAndNoText) {
    for (const char* name : {"klingon", "", "utf-8//IGNORE", "gbk//TRANSLIT", "../../etc"}) {
        const auto result = CharsetConverter::to_text("abc", name);
        ASSERT_FALSE(result.ok()) << name;
        EXPECT_NE(result.error().message.find("不支持的字符集"), std::string::npos);
    }
    for (auto [bytes, charset] : {std::pair<std::string_view, const char*>{"\xFF\xFE", "utf-8"},
                                  {"\x2D", "unicode"},
                                  {"\xD6", "gbk"},
                                  {"\x80", "ascii"},
                                  {"a\xF4\x90\x80\x80", "utf-8"},
                                  {"\xED\xA0\x80", "utf-8"},
                                  {std::string_view("\x00\xD8\x41\x00", 4), "unicode"}}) {
        const auto result = CharsetConverter::to_text(bytes, charset);
        ASSERT_FALSE(result.ok()) << charset;
        EXPECT_NE(result.error().message.find(charset), std::string::npos);
    }
}
