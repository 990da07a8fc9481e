// Share links whose signed direct address expires, as ExpiringShare serves them.

#include "support/ExpiringShare.h"
#include "download/ShareLink.h"
#include "support/Fetch.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vantorel;
using vantorel::testing::ExpiringShare;
using vantorel::testing::fetch;

namespace {

std::string resolve(const ExpiringShare& share) {
    auto direct = download::resolveShareLink(share.link());
    EXPECT_TRUE(direct.ok());
    return direct.ok() ? *direct : std::string();
}

} // namespace

TEST(ExpiringShare, EachResolutionGivesANewWorkingAddress) {
    ExpiringShare::Options options;
    options.lifetime = std::chrono::minutes(1);
    ExpiringShare share("0123456789", options);
    const std::string first = resolve(share);
    const std::string second = resolve(share);
    EXPECT_NE(first, second);
    EXPECT_EQ(share.resolutions(), 2u);
    EXPECT_TRUE(first.find("/file/shared.bin?sig=") != std::string::npos) << first;
    EXPECT_EQ(fetch(first).body, "0123456789");
    EXPECT_EQ(fetch(second, "2-4").body, "234");
    ASSERT_TRUE(share.http().idle());
    EXPECT_EQ(share.bytesServed(), 13u);

    // A signature of its own making, or another's expiry, is not taken.
    const std::string forged = first.substr(0, first.find("sig=") + 4) + "0";
    EXPECT_EQ(fetch(forged).status, 403);
    EXPECT_EQ(fetch(first.substr(0, first.find("&exp=")) + "&exp=9999999999").status, 403);
}

TEST(ExpiringShare, AnExpiredAddressAnswers403OrAWebPage) {
    for (const demo::ExpiredAnswer answer :
         {demo::ExpiredAnswer::Forbidden, demo::ExpiredAnswer::WebPage}) {
        SCOPED_TRACE(static_cast<int>(answer));
        const std::chrono::milliseconds lifetime(800);
        ExpiringShare::Options options;
        options.lifetime = lifetime;
        options.expired = answer;
        ExpiringShare share(std::string(1000, 'x'), options);
        const std::string direct = resolve(share);
        EXPECT_EQ(fetch(direct).body.size(), 1000u);
        std::this_thread::sleep_for(lifetime + std::chrono::milliseconds(100));

        const vantorel::testing::Fetched expired = fetch(direct);
        if (answer == demo::ExpiredAnswer::Forbidden) {
            EXPECT_EQ(expired.status, 403);
        } else {
            EXPECT_EQ(expired.status, 200);
            EXPECT_EQ(expired.contentType, "text/html; charset=utf-8");
            EXPECT_NE(expired.body.find("链接已过期"), std::string::npos);
        }
        ASSERT_TRUE(share.http().idle());
        EXPECT_EQ(share.bytesServed(), 1000u);
        EXPECT_EQ(fetch(resolve(share)).body.size(), 1000u); // a new resolution serves again
    }
}
