// Every request of the program goes through the proxy the session was given: a catalogue search,
// a logo, the version check, a share link's steps and each connection of a download, with the
// proxy's credentials; a direct session or the environment's no_proxy bypasses it.

#include "catalogue/CatalogueSearch.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"
#include "download/Downloader.h"
#include "download/ShareLink.h"
#include "net/Session.h"
#include "update/VersionCheck.h"

#include "support/ForwardProxy.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace vantorel;
using net::ProxyChoice;

namespace {

class SessionProxyTest : public ::testing::Test {
  protected:
    void SetUp() override { services_.applyToConfig(); }
    void TearDown() override {
        net::setSessionProxy({});
        demo::DemoServices::removeFromConfig();
        ::unsetenv("http_proxy");
        ::unsetenv("no_proxy");
    }

    // One request of each kind; the number of them the proxy would see.
    std::size_t everyKindOfRequest() {
        auto records = catalogue::search("输入法", services_.base());
        EXPECT_TRUE(records && !records->empty());
        if (records && !records->empty()) {
            EXPECT_TRUE(catalogue::fetchLogo(services_.base(), records->front().logo48));
        }
        update::VersionCheckOptions version;
        version.base = services_.base();
        EXPECT_EQ(update::checkForUpdate(version).outcome, update::VersionOutcome::NewerRelease);
        EXPECT_TRUE(download::resolveShareLink(demo::DemoServices::releaseShareLink()));

        const auto folder = vantorel::testing::freshTestFolder("vantorel-proxy");
        files_.add("/f.bin", vantorel::testing::randomContent(1 << 20, 1));
        download::DownloadRequest request;
        request.url = files_.url("/f.bin");
        request.target = (folder / "f.bin").string();
        request.workers = 4;
        request.minRangeBytes = 1;
        auto downloaded = download::Downloader(request).run();
        EXPECT_TRUE(downloaded) << downloaded.error().message;
        std::filesystem::remove_all(folder);
        return files_.http().requests().size();
    }

    demo::DemoServices services_;
    demo::RangeServer files_;
    vantorel::testing::ForwardProxy proxy_;
};

TEST_F(SessionProxyTest, EveryKindOfRequestGoesThroughTheChosenProxyWithItsCredentials) {
    net::setSessionProxy({ProxyChoice::Source::Address, proxy_.address(), "user", "secret"});
    const std::size_t downloadRequests = everyKindOfRequest();
    const auto carried = proxy_.carried();
    ASSERT_GE(downloadRequests, 5u); // the probe and four workers at least
    auto through = [&](std::string_view part) {
        return std::count_if(carried.begin(), carried.end(), [&](const auto& c) {
            return c.target.find(part) != std::string::npos;
        });
    };
    EXPECT_EQ(through("/tapi/web/searchcgi.php"), 1);
    EXPECT_EQ(through("/softmgr/logo/"), 1);
    EXPECT_EQ(static_cast<std::size_t>(through("/f.bin")), downloadRequests);
    EXPECT_GT(carried.size(), downloadRequests + 3); // + version check and share-link steps
    for (const auto& c : carried)
        EXPECT_EQ(c.proxyAuthorization, "Basic dXNlcjpzZWNyZXQ=") << c.target;
}

TEST_F(SessionProxyTest, ADirectSessionAndNoProxyBypassTheProxy) {
    net::setSessionProxy({ProxyChoice::Source::None, {}, {}, {}});
    ::setenv("http_proxy", proxy_.address().c_str(), 1);
    everyKindOfRequest();
    EXPECT_TRUE(proxy_.carried().empty());

    net::setSessionProxy({}); // the environment's
    ::setenv("no_proxy", "127.0.0.1", 1);
    everyKindOfRequest();
    EXPECT_TRUE(proxy_.carried().empty());
    ::unsetenv("no_proxy");
    EXPECT_TRUE(catalogue::search("输入法", services_.base()));
    EXPECT_EQ(proxy_.carried().size(), 1u);
}

} // namespace
