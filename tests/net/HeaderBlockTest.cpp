#include "net/HeaderBlock.h"

#include <gtest/gtest.h>

#include <array>

using namespace vantorel::net;

TEST(HeaderBlock, SplitsEachLineAtItsFirstColonAndTrimsBothSides) {
    auto fields =
        parseHeaderBlock("Host:  a.test:8080 \r\nX-Empty:\r\n\r\n  Referer :http://b/c?d=e ");
    ASSERT_TRUE(fields) << fields.error().message;
    ASSERT_EQ(fields->size(), 3u);
    EXPECT_EQ((*fields)[0].name, "Host");
    EXPECT_EQ((*fields)[0].value, "a.test:8080");
    EXPECT_EQ((*fields)[1].name, "X-Empty");
    EXPECT_EQ((*fields)[1].value, "");
    EXPECT_EQ((*fields)[2].name, "Referer");
    EXPECT_EQ((*fields)[2].value, "http://b/c?d=e");
}

TEST(HeaderBlock, ALoneLineBreakCannotHideAHeaderInsideAValue) {
    // A value carrying a bare "\n" or "\r" ends its line: what follows is judged as a line.
    auto fields = parseHeaderBlock("X-A: 1\nX-B: 2\rX-C: 3");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->size(), 3u);

    auto bad = parseHeaderBlock("X-A: 1\r\nnot a header line");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().message.find("not a header line"), std::string::npos);
    EXPECT_FALSE(parseHeaderBlock(": no name"));
    EXPECT_FALSE(parseHeaderBlock("Two Words: x"));

    // Received blocks are read leniently.
    EXPECT_EQ(readHeaderBlock("junk\r\nA: 1").size(), 1u);
}

TEST(HeaderBlock, LooksUpNamesWithoutRegardToCase) {
    std::string_view block = "set-cookie: a=1\r\nContent-Type: text/html\r\nSET-COOKIE: b=2";
    EXPECT_TRUE(blockHasHeader(block, "content-type"));
    EXPECT_FALSE(blockHasHeader(block, "Content"));
    EXPECT_EQ(headerValue(block, "CONTENT-TYPE"), "text/html");
    EXPECT_EQ(headerValues(block, "Set-Cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(headerValue(block, "Location"), "");
}

TEST(HeaderBlock, DefaultsFillOnlyWhatTheCallerLacks) {
    const std::array<DefaultHeader, 3> leading = {{
        {"Accept:", "\r\nAccept: */*"},
        {"Accept-Language:", "\r\nAccept-Language: zh-cn"},
        {"User-Agent:", "\r\nUser-Agent: UA/1"},
    }};
    // An empty block: the first default takes its first form, no break at either end.
    EXPECT_EQ(completeHeaderBlock("", leading),
              "Accept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: UA/1");
    // The caller's lines come first; a caller's header (any case) replaces the default.
    EXPECT_EQ(completeHeaderBlock("user-agent: Mine\r\nX-Extra: 1\r\n", leading),
              "user-agent: Mine\r\nX-Extra: 1\r\nAccept: */*\r\nAccept-Language: zh-cn");

    // Lines stored with a trailing break and name forms with a space work the same way.
    const std::array<DefaultHeader, 2> trailing = {{
        {"Cache-Control: ", "Cache-Control: no-cache\r\n"},
        {"Accept: ", "Accept: text/html\r\n"},
    }};
    EXPECT_EQ(completeHeaderBlock("ACCEPT: x/y", trailing),
              "ACCEPT: x/y\r\nCache-Control: no-cache");
    EXPECT_EQ(nameOfForm("User-Agent: "), "User-Agent");
}
