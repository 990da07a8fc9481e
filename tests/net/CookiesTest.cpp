#include "net/Cookies.h"

#include <gtest/gtest.h>

using namespace vantorel::net;

TEST(Cookies, CollectsThePairOfEachSetCookieLineWithoutAttributes) {
    std::string_view block = "Content-Type: text/html\r\n"
                             "Set-Cookie: sid=abc; Path=/; HttpOnly\r\n"
                             "set-cookie: lang=zh\r\n"
                             "Set-Cookie: token=x=y; Domain=a.test";
    EXPECT_EQ(collectSetCookies(block), "sid=abc; lang=zh; token=x=y");
    EXPECT_EQ(collectSetCookies("Content-Type: text/html"), "");
}

TEST(Cookies, ExpiryAttributesBecomeDeletions) {
    std::string_view block = "Set-Cookie: a=1; Max-Age=0\r\n"
                             "Set-Cookie: b=2; Expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"
                             "Set-Cookie: c=3; Max-Age=60\r\n"
                             "Set-Cookie: d=4; Expires=Fri, 01 Jan 2100 00:00:00 GMT";
    EXPECT_EQ(collectSetCookies(block), "a=deleted; b=deleted; c=3; d=4");
    EXPECT_EQ(mergeCookies("a=old; b=old; z=9", collectSetCookies(block)), "z=9; c=3; d=4");
}

TEST(Cookies, LaterValueWinsInPlaceAndDeletedRemoves) {
    EXPECT_EQ(mergeCookies("a=1; b=2;c=3", "b=20; d=4; a=deleted"), "b=20; c=3; d=4");
    EXPECT_EQ(mergeCookies("", "x=1"), "x=1");
    EXPECT_EQ(mergeCookies("x=1", ""), "x=1");
    // Names compare exactly; empty pairs and stray separators vanish.
    EXPECT_EQ(mergeCookies("A=1;; ", "a=2"), "A=1; a=2");
    // A later pair in the same text wins too; deleting an absent cookie changes nothing.
    EXPECT_EQ(mergeCookies("k=1; k=2", "gone=deleted"), "k=2");
    // Only the whole value "deleted" deletes.
    EXPECT_EQ(mergeCookies("a=1", "a=undeleted"), "a=undeleted");
}
