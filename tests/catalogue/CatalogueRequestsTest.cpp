// The catalogue's two requests end whatever the server does: at their total deadline against a
// server that trickles, at once when stopped, and a logo beyond the logo limits is refused
// before a pixel is allocated (the caller runs this on a worker, never on the window's thread).

#include "catalogue/CatalogueSearch.h"
#include "demo/CatalogueData.h"
#include "demo/DemoServices.h"
#include "demo/HttpServer.h"
#include "demo/PngWriter.h"
#include "net/Transport.h"
#include "picture/Encoders.h"
#include "support/SlowServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace vantorel;
using namespace std::chrono_literals;

namespace {

std::string asText(const picture::testing::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(CatalogueRequests, TrickledRepliesEndAtTheTotalDeadlineWithAChineseMessage) {
    demo::HttpServer server(
        [](const demo::HttpRequest&) { return vantorel::testing::trickledReply(); });
    net::Timeouts shrunk = net::deadlines::kCatalogueSearch;
    shrunk.total = 500ms;

    auto found = catalogue::search("QQ", server.base(), shrunk);
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().message, "搜索失败：等待服务器超时（127.0.0.1）");
    EXPECT_FALSE(found.error().detail.empty()) << "the library's words stay for the terminal";

    auto logo = catalogue::fetchLogo(server.base(), "a.png", shrunk);
    ASSERT_FALSE(logo);
    EXPECT_EQ(logo.error().message, "图标下载失败：等待服务器超时（127.0.0.1）");
}

TEST(CatalogueRequests, AStopEndsASearchTheServerNeverAnswers) {
    vantorel::testing::SilentServer server;
    std::stop_source stop;
    std::thread user([&] {
        server.connected(10s);
        stop.request_stop();
    });
    auto found = catalogue::search("QQ", server.base(), net::Timeouts{}, stop.get_token());
    user.join();
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().code, int(net::TransportStep::Cancelled));
    EXPECT_TRUE(server.clientClosedOldest(5s));
}

TEST(CatalogueRequests, LogosBeyondTheLogoLimitsAreRefused) {
    using picture::testing::encodePng;
    using picture::testing::withPngDimensions;
    const picture::testing::Bytes tiny =
        encodePng({.width = 2, .height = 2, .samples = std::vector<std::uint16_t>(16, 200)});
    demo::HttpServer server([&](const demo::HttpRequest& r) {
        std::string body;
        if (r.path.ends_with("/declares-8192x4882.png"))
            body = asText(withPngDimensions(tiny, 8192, 4882));
        else if (r.path.ends_with("/wide.png"))
            body = asText(withPngDimensions(tiny, 1025, 2));
        else if (r.path.ends_with("/over-1MiB.png"))
            body = asText(tiny) + std::string(1u << 20, '\0');
        else
            body = demo::drawLogo(0x3366cc, 1);
        return demo::HttpResponse::text(body, "image/png");
    });

    for (const char* name : {"declares-8192x4882.png", "wide.png"}) {
        auto logo = catalogue::fetchLogo(server.base(), name);
        ASSERT_FALSE(logo) << name;
        EXPECT_EQ(logo.error().code, int(picture::ErrorCode::TooLarge)) << name;
        EXPECT_TRUE(logo.error().message.starts_with("图标无法显示：")) << logo.error().message;
    }
    auto oversized = catalogue::fetchLogo(server.base(), "over-1MiB.png");
    ASSERT_FALSE(oversized);
    EXPECT_EQ(oversized.error().code, int(net::TransportStep::Body));

    auto fine = catalogue::fetchLogo(server.base(), "logo.png");
    ASSERT_TRUE(fine) << fine.error().message;
    EXPECT_EQ(fine->width, 48);
    EXPECT_EQ(fine->rgba.size(), 48u * 48u * 4u);
}

TEST(CatalogueRequests, AnEntryIsAskedForAgainByItsIdAmongTheRecordsOfItsName) {
    demo::DemoServices services;
    const auto programs =
        demo::demoPrograms(services.base(), services.mirrorBase(),
                           "https://" + std::string(demo::DemoServices::kShareHost));
    // "轻聊" finds two entries: the ID picks the second one.
    const catalogue::CatalogueRecord& lite = programs.at(1).record;
    ASSERT_EQ(lite.displayname, "轻聊 精简版");

    auto current = catalogue::currentAddresses(lite.hash, "轻聊", services.base());
    ASSERT_TRUE(current) << current.error().message;
    EXPECT_EQ(*current, (std::vector<std::string>{lite.url, lite.https}));

    auto gone = catalogue::currentAddresses("0000000000000000", "轻聊", services.base());
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().message, "软件目录中已找不到“轻聊”");
}
