#include "common/TextEncoding.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(TextEncoding, Utf8AndUtf16RoundTrip) {
    const std::string text = "A中文😀\u00e9\u2028";
    const std::u16string units = utf8ToUtf16(text);
    EXPECT_EQ(units, u"A中文😀\u00e9\u2028");
    EXPECT_EQ(units.size(), 7u); // the emoji is a surrogate pair
    EXPECT_EQ(utf16ToUtf8(units), text);
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_TRUE(isValidUtf8("\xEF\xBF\xBD")); // U+FFFD itself is valid
}

TEST(TextEncoding, MalformedInputBecomesReplacementCharacters) {
    // Stray continuation, overlong slash, encoded surrogate, truncated sequence, beyond U+10FFFF.
    for (const char* bad :
         {"a\x80z", "a\xC0\xAFz", "a\xED\xA0\x80z", "a\xE4\xB8", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
        const std::string clean = sanitizeUtf8(bad);
        EXPECT_TRUE(isValidUtf8(clean));
        EXPECT_NE(clean.find("\xEF\xBF\xBD"), std::string::npos);
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(bad)), clean);
    }
    // The character after a bad byte survives.
    EXPECT_EQ(sanitizeUtf8("\xE4中"), "\xEF\xBF\xBD中");
    // Lone surrogates on the UTF-16 side.
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(TextEncoding, GbkBothWays) {
    auto gbk = utf8ToGbk("中文€A");
    ASSERT_TRUE(gbk.ok()) << gbk.error().message;
    EXPECT_EQ(*gbk, "\xD6\xD0\xCE\xC4\x80"
                    "A");
    auto back = gbkToUtf8(*gbk);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, "中文€A");

    // Nothing is dropped silently: no GBK form, or bytes that are not GBK, are errors.
    EXPECT_FALSE(utf8ToGbk("emoji 😀").ok());
    EXPECT_FALSE(utf8ToGbk("bad \xFF").ok());
    const auto broken = gbkToUtf8("\xD6");
    ASSERT_FALSE(broken.ok());
    EXPECT_FALSE(broken.error().message.empty());
}

TEST(TextEncoding, ConverterRefusesUnknownAndSuffixedNames) {
    EXPECT_FALSE(IconvConverter::open("UTF-8", "no-such-charset").ok());
    EXPECT_FALSE(IconvConverter::open("ASCII//TRANSLIT", "UTF-8").ok());
    EXPECT_FALSE(IconvConverter::open("UTF-8", "GBK//IGNORE").ok());
    EXPECT_FALSE(IconvConverter::open("UTF-8", "").ok());

    auto converter = IconvConverter::open("UTF-16LE", "UTF-8");
    ASSERT_TRUE(converter.ok());
    // A converter is reusable and large inputs grow the output as needed.
    const std::string big(100000, 'x');
    auto once = converter->convert(big);
    ASSERT_TRUE(once.ok());
    EXPECT_EQ(once->size(), 200000u);
    auto twice = converter->convert("中");
    ASSERT_TRUE(twice.ok());
    EXPECT_EQ(*twice, std::string("\x2D\x4E", 2));
    IconvConverter moved = std::move(converter.value());
    EXPECT_TRUE(moved.convert("a").ok());
}
