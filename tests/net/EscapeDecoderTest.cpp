#include "net/EscapeDecoder.h"

#include <gtest/gtest.h>

using vantorel::net::EscapeDecoder;

TEST(EscapeDecoder, ResolvesPercentAndBackslashEscapes) {
    EXPECT_EQ(EscapeDecoder::decode("\\u4e2d"), "中");
    EXPECT_EQ(EscapeDecoder::decode("%u4E2D"), "中");
    EXPECT_EQ(EscapeDecoder::decode("%41%62"), "Ab");
    // Two-digit escapes are characters U+0000-00FF, never bytes of a UTF-8 sequence.
    EXPECT_EQ(EscapeDecoder::decode("%E4%B8%AD"), "\u00e4\u00b8\u00ad");
    EXPECT_EQ(EscapeDecoder::decode("%ud83d%uDE00"), "😀");
    EXPECT_EQ(EscapeDecoder::decode("\\u0025\\u0034\\u0031"), "%41"); // decoded once only
    EXPECT_EQ(EscapeDecoder::decode("name=%u5F20%u4E09&x=1"), "name=张三&x=1");
}

TEST(EscapeDecoder, LeavesEverythingElseAlone) {
    for (const char* same : {"100%", "%zz", "%4", "%u12", "%u12G4", "\\u12", "\\n\\t\\x41\\\\",
                             "it's", "line\r\nbreak\n", "‘quoted’", "中文", ""})
        EXPECT_EQ(EscapeDecoder::decode(same), same) << same;
    EXPECT_EQ(EscapeDecoder::decode("50%%41"), "50%A");
    // A lone surrogate cannot stand in text.
    EXPECT_EQ(EscapeDecoder::decode("%uD800x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(EscapeDecoder::decode("%00"), std::string(1, '\0'));
}
