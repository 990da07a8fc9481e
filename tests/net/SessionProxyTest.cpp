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

#include "LoopbackHelpers.h"
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
        ::unsetenv("https_proxy");
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

    // The message a search through the session's proxy fails with, after the search's own
    // words (empty: it did not fail).
    std::string searchFailure(std::string_view base) {
        auto records = catalogue::search("输入法", base);
        const std::string search = "搜索失败：";
        if (records)
            return {};
        const std::string message = messageWithDetail(records.error());
        return message.starts_with(search) ? message.substr(search.size()) : message;
    }
    std::string proxied(std::string user, std::string password) {
        net::setSessionProxy(
            {ProxyChoice::Source::Address, proxy_.address(), user, password, "--proxy"});
        return proxy_.address();
    }

    demo::DemoServices services_;
    demo::RangeServer files_;
    vantorel::testing::ForwardProxy proxy_;
};

TEST_F(SessionProxyTest, EveryKindOfRequestGoesThroughTheChosenProxyWithItsCredentials) {
    net::setSessionProxy({ProxyChoice::Source::Address, proxy_.address(), "user", "secret", {}});
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
    net::setSessionProxy({ProxyChoice::Source::None, {}, {}, {}, {}});
    ::setenv("http_proxy", proxy_.address().c_str(), 1);
    everyKindOfRequest();
    EXPECT_TRUE(proxy_.carried().empty());

    net::setSessionProxy({}); // the environment's
    ::setenv("no_proxy", "127.0.0.1", 1);
    everyKindOfRequest();
    EXPECT_TRUE(proxy_.carried().empty());
    ::setenv("no_proxy", "example.test, 127.0.0.0/8", 1); // a list, an address range
    EXPECT_TRUE(catalogue::search("输入法", services_.base()));
    EXPECT_TRUE(proxy_.carried().empty());
    ::unsetenv("no_proxy");
    EXPECT_TRUE(catalogue::search("输入法", services_.base()));
    EXPECT_EQ(proxy_.carried().size(), 1u);
}

} // namespace

TEST_F(SessionProxyTest, RefusedCredentialsAreTheProxysNotTheSitesAndFinal) {
    proxy_.require("Basic dXNlcjpyaWdodA=="); // user:right
    proxied("user", "wrong-pw-1");
    const std::string search = searchFailure(services_.base());
    EXPECT_NE(search.find("代理服务器拒绝了代理用户名或密码（HTTP 407）"), std::string::npos)
        << search;
    EXPECT_EQ(search.find("wrong-pw-1"), std::string::npos);

    const auto folder = vantorel::testing::freshTestFolder("vantorel-proxy-407");
    files_.add("/f.bin", vantorel::testing::randomContent(1000, 2));
    download::DownloadRequest request;
    request.url = files_.url("/f.bin");
    request.target = (folder / "f.bin").string();
    auto downloaded = download::Downloader(request).run();
    ASSERT_FALSE(downloaded);
    EXPECT_NE(downloaded.error().message.find("代理服务器拒绝了代理用户名或密码"),
              std::string::npos)
        << downloaded.error().message;
    EXPECT_TRUE(files_.http().requests().empty());
    std::filesystem::remove_all(folder);

    proxied("user", "right");
    EXPECT_EQ(searchFailure(services_.base()), "");
}

TEST_F(SessionProxyTest, ATunnelAnsweredWithAnErrorIsTheProxys) {
    proxy_.fail(vantorel::testing::ForwardProxy::Failure::BadGateway);
    proxied({}, {});
    const std::string failure =
        searchFailure("https://127.0.0.1:" + std::to_string(vantorel::testing::closedPort()));
    EXPECT_TRUE(failure.starts_with("代理服务器无法连通目标网站（代理回复 HTTP 502）（代理 " +
                                    proxy_.address() + "）"))
        << failure;
}

TEST_F(SessionProxyTest, AProxyThatClosesIsNamed) {
    proxy_.fail(vantorel::testing::ForwardProxy::Failure::Close);
    proxied({}, {});
    const std::string failure = searchFailure(services_.base());
    EXPECT_TRUE(failure.starts_with("代理服务器关闭了连接")) << failure;
    // Closed while it was asked for a tunnel (CONNECT), before the server was reached.
    const std::string tunnel =
        searchFailure("https://127.0.0.1:" + std::to_string(vantorel::testing::closedPort()));
    EXPECT_TRUE(tunnel.starts_with("代理服务器关闭了连接（代理 " + proxy_.address() + "）"))
        << tunnel;
}

TEST_F(SessionProxyTest, AProxyThatCannotBeReachedIsNamed) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(vantorel::testing::closedPort());
    net::setSessionProxy({ProxyChoice::Source::Address, dead, {}, {}, "--proxy"});
    const std::string failure = searchFailure(services_.base());
    EXPECT_TRUE(failure.starts_with("无法连接到代理服务器（代理 " + dead + "）")) << failure;
}

TEST_F(SessionProxyTest, AnUnusableVariableIsNamedAndCredentialsInAVariableAreUsed) {
    ::setenv("http_proxy", "::::", 1);
    const std::string failure = searchFailure(services_.base());
    EXPECT_TRUE(failure.starts_with("环境变量 http_proxy：代理地址缺少主机名")) << failure;
    EXPECT_TRUE(proxy_.carried().empty());

    const std::string withCredentials = proxy_.address();
    ::setenv(
        "http_proxy",
        ("http://us%65r:p%25w@" + withCredentials.substr(std::string("http://").size())).c_str(),
        1);
    EXPECT_EQ(searchFailure(services_.base()), "");
    ASSERT_EQ(proxy_.carried().size(), 1u);
    EXPECT_EQ(proxy_.carried().front().proxyAuthorization, "Basic dXNlcjpwJXc="); // user:p%w
}
