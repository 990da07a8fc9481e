#include "download/ShareLink.h"
#include "common/Config.h"
#include "demo/DemoServices.h"
#include "demo/HttpServer.h"
#include "net/UrlEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>

using namespace vantorel;
using namespace vantorel::download;
using demo::HttpRequest;
using demo::HttpResponse;

namespace {

void restoreShareConfig() {
    demo::DemoServices::removeFromConfig();
}

// A share service of our own; each test breaks the step it is about.
class ShareService : public ::testing::Test {
  protected:
    void SetUp() override {
        config::set("VANTOREL_SHARE_BASE", server.base());
        config::set("VANTOREL_SHARE_HOSTS", "share.test, www.Share2.test");
    }
    void TearDown() override { restoreShareConfig(); }

    // The server's threads read the pages while a test changes them.
    template <class T, class V> void set(T& field, V value) {
        std::lock_guard lock(mutex);
        field = std::move(value);
    }

    std::mutex mutex;

    std::string sharePage =
        R"(<div><iframe class="ifr2" name="77" src="/fn?abc" frameborder="0"></iframe></div>)";
    std::string framePage = "<script>\nvar a = 'act';\nvar b = 'fid';\n"
                            "var c = 'sig';\nvar d = 'key';\n</script>";
    std::function<HttpResponse(const HttpRequest&)> ajax = [this](const HttpRequest&) {
        return HttpResponse::text(R"({"zt":1,"dom":")" + server.base() +
                                  R"(","url":"tok?x=1","inf":0})");
    };
    demo::HttpServer server{[this](const HttpRequest& r) {
        std::lock_guard lock(mutex);
        if (r.path == "/s/abc" || r.path == "/s/file/abc")
            return HttpResponse::text(sharePage, "text/html; charset=utf-8");
        if (r.path == "/fn")
            return HttpResponse::text(framePage, "text/html; charset=utf-8");
        if (r.path.starts_with("/ajax"))
            return ajax(r);
        return HttpResponse::text("not here", "text/plain", 404);
    }};

    void expectFailsAt(ShareStep step) {
        auto result = resolveShareLink("https://share.test/s/abc");
        ASSERT_FALSE(result.ok()) << *result;
        EXPECT_EQ(result.error().message, "后台地址有误，需联系作者处理、");
        EXPECT_EQ(result.failedAt, step) << shareStepName(result.failedAt);
    }
};

} // namespace

TEST_F(ShareService, ResolvesThroughEveryStepWithTheRightRequests) {
    auto direct = resolveShareLink("https://share.test/s/abc");
    ASSERT_TRUE(direct.ok()) << shareStepName(direct.failedAt);
    EXPECT_EQ(*direct, server.base() + "/file/tok?x=1");

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string agent = "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, "
                              "like Gecko) Chrome/55.0.2883.87 Safari/537.36";
    EXPECT_EQ(requests[0].target, "/s/abc");
    EXPECT_EQ(requests[0].header("User-Agent"), agent);
    EXPECT_EQ(requests[1].target, "/fn?abc");
    EXPECT_EQ(requests[1].header("User-Agent"), agent);
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].target, "/ajaxm.php");
    EXPECT_EQ(requests[2].body, "action=act&t=sig&k=key");
    EXPECT_EQ(requests[2].header("Referer"), server.base() + "/fn?abc");
    EXPECT_EQ(requests[2].header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(ShareService, ValuesCannotAddFormFields) {
    set(framePage, "var a = 'act&k=evil';\nvar b = 'f';\nvar c = 's =x';\nvar d = '中';");
    ASSERT_TRUE(resolveShareLink("https://share.test/s/abc").ok());
    EXPECT_EQ(server.requests().back().body, "action=act%26k%3Devil&t=s%20%3Dx&k=%E4%B8%AD");
}

TEST_F(ShareService, QueryFormIsUsedWhenTheFormEndpointIsMissing) {
    set(ajax, [this](const HttpRequest& r) {
        if (r.path == "/ajaxm.php")
            return HttpResponse::text("gone", "text/plain", 404);
        return HttpResponse::text(R"({"dom":")" + server.base() + R"(","url":"q"})");
    });
    auto direct = resolveShareLink("https://share.test/s/abc");
    ASSERT_TRUE(direct.ok());
    EXPECT_EQ(*direct, server.base() + "/file/q");
    const HttpRequest query = server.requests().back();
    EXPECT_EQ(query.method, "GET");
    // "|" may travel percent-encoded; the trailing value is sixteen random digits.
    std::string target = query.target;
    if (auto bar = target.find("%7C"); bar != std::string::npos)
        target.replace(bar, 3, "|");
    const std::string fixed = "/ajaxs.php?action=act&file_id=fid&cm=640|21&t=0.";
    ASSERT_TRUE(target.starts_with(fixed)) << query.target;
    const std::string digits = target.substr(fixed.size());
    EXPECT_EQ(digits.size(), 16u) << query.target;
    EXPECT_TRUE(
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }));
    EXPECT_EQ(query.header("Referer"), server.base() + "/fn?abc");
}

TEST_F(ShareService, OnlyShareHostsAreShareLinks) {
    EXPECT_TRUE(isShareLink("https://share.test/s/abc"));
    EXPECT_TRUE(isShareLink("http://SHARE.test/x"));
    EXPECT_TRUE(isShareLink("https://www.share2.test/x"));
    auto parsed = parseShareLink("https://Share.Test/s/abc?p=1");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->host, "share.test");
    EXPECT_EQ(parsed->path, "/s/abc?p=1");
    for (std::string_view other :
         {"https://share.test", "https://share.test.evil/x", "https://evil.share.test/x",
          "https://user@share.test/x", "https://share.test:8443/x", "ftp://share.test/x",
          "https://share.test/a b", "share.test/x", ""})
        EXPECT_FALSE(isShareLink(other)) << other;
}

TEST_F(ShareService, BrokenSharePage) {
    set(sharePage, "<html>no frame here</html>");
    expectFailsAt(ShareStep::SharePage);
    // A frame path that is not on this host.
    set(sharePage, R"(<iframe class="ifr2" name="1" src="@evil.example/fn">)");
    expectFailsAt(ShareStep::SharePage);
    set(sharePage, R"(<iframe class="ifr2" name="1" src="//evil.example/fn">)");
    expectFailsAt(ShareStep::SharePage);
    auto missing = resolveShareLink("https://share.test/s/none");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.failedAt, ShareStep::SharePage);
    auto notShare = resolveShareLink("https://other.test/s/abc");
    ASSERT_FALSE(notShare.ok());
    EXPECT_EQ(notShare.failedAt, ShareStep::Link);
    EXPECT_EQ(notShare.error().message, "后台地址有误，需联系作者处理、");
}

TEST_F(ShareService, BrokenFramePage) {
    set(framePage, "<script>var a = 'only';\nvar b = 'three';\nvar c = 'values';</script>");
    expectFailsAt(ShareStep::FramePage);
}

TEST_F(ShareService, BrokenEndpointOrReply) {
    set(ajax, [](const HttpRequest&) { return HttpResponse::text("busy", "text/plain", 503); });
    expectFailsAt(ShareStep::Ajax);
    set(ajax, [](const HttpRequest&) {
        HttpResponse none;
        none.dropWithoutReply = true;
        return none;
    });
    expectFailsAt(ShareStep::Ajax);

    for (std::string body :
         {std::string("<html>not json</html>"), std::string(R"({"url":"x"})"),
          std::string(R"({"dom":"http://h","url":""})"), std::string(R"({"dom":5,"url":"x"})"),
          std::string(R"({"dom":"javascript:alert(1)//","url":"x"})"),
          std::string(R"({"dom":"http://h","url":"a b"})"), std::string(R"([1,2])")}) {
        set(ajax, [body](const HttpRequest&) { return HttpResponse::text(body); });
        SCOPED_TRACE(body);
        expectFailsAt(ShareStep::Reply);
    }
}

TEST_F(ShareService, DirectAddressMayNotBeTheSharePageItself) {
    // A reply that leads back to the page would make the downloader save a web page.
    set(sharePage, R"(<iframe class="ifr2" name="1" src="/fn?abc">)");
    set(ajax, [this](const HttpRequest&) {
        return HttpResponse::text(R"({"dom":")" + server.base() + R"(/s","url":"abc"})");
    });
    auto result = resolveShareLink("https://share.test/s/file/abc");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.failedAt, ShareStep::Reply);
}

TEST(ShareLinkDemo, DemoServicesResolveToTheirRelease) {
    demo::DemoServices services;
    services.applyToConfig();
    auto direct = resolveShareLink("https://share.vantorel.example/iVantorel310");
    restoreShareConfig();
    ASSERT_TRUE(direct.ok()) << shareStepName(direct.failedAt);
    EXPECT_EQ(*direct, services.base() + "/file/Vantorel-3.10-release");
}

TEST_F(ShareService, DownloadAddressesResolveOnlyShareLinks) {
    EXPECT_EQ(*downloadAddressFor("https://share.test/s/abc"), server.base() + "/file/tok?x=1");
    EXPECT_EQ(*downloadAddressFor("http://mirror.test/a.exe"), "http://mirror.test/a.exe");
    EXPECT_EQ(server.requests().size(), 3u); // the plain address was not fetched
    for (std::string_view bad : {"", "file:///etc/passwd", "C:\\a.exe", "http://"}) {
        auto result = downloadAddressFor(bad);
        ASSERT_FALSE(result.ok()) << bad;
        EXPECT_EQ(shareStepName(result.failedAt), "不是 http(s) 地址");
    }
}

TEST(ShareLinkForm, EncodesAllButUnreservedCharacters) {
    EXPECT_EQ(net::percentEncode("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(net::percentEncode("a+b/c=d&e f"), "a%2Bb%2Fc%3Dd%26e%20f");
    EXPECT_EQ(net::percentEncode(""), "");
}
