#include "net/Base64.h"
#include "net/Exchange.h"

#include <gtest/gtest.h>

using namespace vantorel::net;

TEST(Base64, EncodesTheStandardVectorsWithPadding) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(std::string("\xfb\xff\x00", 3)), "+/8A");
}

TEST(ProxyCredential, IsBasicOverTheGbkBytesOfUserColonPassword) {
    auto plain = basicProxyCredential("user", "pass");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, "Basic dXNlcjpwYXNz");
    // An empty password still leaves the colon.
    EXPECT_EQ(basicProxyCredential("user", "").value(), "Basic dXNlcjo=");
    // 张三 in GBK is D5 C5 C8 FD.
    EXPECT_EQ(basicProxyCredential("张三", "pw").value(),
              "Basic " + base64Encode("\xD5\xC5\xC8\xFD:pw"));
    // A character GBK cannot hold is refused, not sent altered.
    EXPECT_FALSE(basicProxyCredential("user\xF0\x9F\x98\x80", "pw"));
}
