#include "update/VersionCheck.h"
#include "common/Config.h"
#include "demo/HttpServer.h"
#include "update/VersionCompare.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

using namespace vantorel;
using namespace vantorel::update;
using demo::HttpRequest;
using demo::HttpResponse;

TEST(VersionCompare, PartsCompareAsNumbers) {
    EXPECT_TRUE(isNewerVersion("3.10", "3.9"));
    EXPECT_FALSE(isNewerVersion("3.9", "3.10"));
    EXPECT_FALSE(isNewerVersion("3.9", "3.9"));
    EXPECT_FALSE(isNewerVersion("3.9.0", "3.9"));
    EXPECT_TRUE(isNewerVersion("3.9.1", "3.9"));
    EXPECT_TRUE(isNewerVersion("4", "3.99.99"));
    EXPECT_TRUE(isNewerVersion("v3.010", "3.9")); // leading zeros do not make a part smaller
    EXPECT_EQ(compareVersions("03.9", "3.9"), std::partial_ordering::equivalent);
    // Parts longer than any integer still compare by value.
    EXPECT_TRUE(isNewerVersion("3.100000000000000000000", "3.99999999999999999999"));
}

TEST(VersionCompare, TextsThatAreNotVersionsAreNeverNewer) {
    for (std::string_view bad : {"", "v", "3.", ".3", "3..9", "3.9a", "3.-1", " 3.9", "三.九"}) {
        EXPECT_FALSE(isVersion(bad)) << bad;
        EXPECT_FALSE(isNewerVersion(bad, "3.9")) << bad;
        EXPECT_EQ(compareVersions(bad, "3.9"), std::partial_ordering::unordered) << bad;
    }
}

TEST(VersionReply, NoMeansAnUnknownInstance) {
    for (std::string_view body : {"no", "no\r\n", "no\n"}) {
        auto reply = parseVersionReply(body);
        ASSERT_TRUE(reply.ok()) << body;
        EXPECT_TRUE(reply->unknownInstance);
    }
    auto notNo = parseVersionReply("nope");
    EXPECT_FALSE(notNo.ok());
}

TEST(VersionReply, FiveFieldsInTheirRoles) {
    auto reply = parseVersionReply("\xEF\xBB\xBF"
                                   "3.10|https://s.example/iA|app.exe|请更新|<b>a|b</b>\r\n");
    ASSERT_TRUE(reply.ok()) << reply.error().message;
    EXPECT_FALSE(reply->unknownInstance);
    EXPECT_EQ(reply->release.latestVersion, "3.10");
    EXPECT_EQ(reply->release.downloadAddress, "https://s.example/iA");
    EXPECT_EQ(reply->release.fileName, "app.exe");
    EXPECT_EQ(reply->release.notice, "请更新");
    EXPECT_EQ(reply->release.notesHtml, "<b>a|b</b>"); // only the last field may hold "|"

    auto empty = parseVersionReply("3.10||||");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->release.downloadAddress, "");
}

TEST(VersionReply, AnythingElseIsAnAbnormalAnswer) {
    for (std::string_view body : {"", "3.10|a|b|c", "<html>502 Bad Gateway</html>",
                                  "3.10|a|b|c|line one\nline two", "latest|a|b|c|d"})
        EXPECT_FALSE(parseVersionReply(body).ok()) << body;
}

TEST(VersionReply, NotesDocumentEscapesWhatIsNotVouchedFor) {
    ReleaseInfo release{"3.10", "", "", "注意 <x>", "<b>新</b>\nA&B"};
    EXPECT_EQ(notesDocument(release, true), "<p><b>注意 &lt;x&gt;</b></p><b>新</b>\nA&B");
    EXPECT_EQ(notesDocument(release, false),
              "<p><b>注意 &lt;x&gt;</b></p><p>&lt;b&gt;新&lt;/b&gt;<br>A&amp;B</p>");
    EXPECT_TRUE(allowsHtmlNotes(" true\r\n"));
    EXPECT_FALSE(allowsHtmlNotes("True"));
    EXPECT_FALSE(allowsHtmlNotes("false"));
}

namespace {

// A version service of our own whose two answers each test chooses.
class VersionService : public ::testing::Test {
  protected:
    // The server's threads read the answers while a test changes them.
    template <class T, class V> void set(T& field, V value) {
        std::lock_guard lock(mutex);
        field = std::move(value);
    }

    std::mutex mutex;
    std::function<HttpResponse(const HttpRequest&)> version = [](const HttpRequest&) {
        return HttpResponse::text("3.10|https://s.example/iA|a.exe||<p>notes</p>");
    };
    std::function<HttpResponse(const HttpRequest&)> instance = [](const HttpRequest&) {
        return HttpResponse::text("true");
    };
    demo::HttpServer server{[this](const HttpRequest& r) {
        std::lock_guard lock(mutex);
        return r.path == "/api/checkVersion" ? version(r) : instance(r);
    }};

    VersionCheckResult check() {
        VersionCheckOptions options;
        options.base = server.base();
        options.timeouts.receive = std::chrono::seconds(3);
        return checkForUpdate(options);
    }
};

} // namespace

TEST_F(VersionService, NewerReleaseAsksAboutHtmlNotes) {
    VersionCheckResult result = check();
    EXPECT_EQ(result.outcome, VersionOutcome::NewerRelease);
    EXPECT_EQ(result.currentVersion, "3.9");
    EXPECT_EQ(result.release.latestVersion, "3.10");
    EXPECT_TRUE(result.notesAreHtml);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target,
              "/api/checkVersion?id=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10&version=3.9");
    EXPECT_EQ(requests[1].target,
              "/api/getExample?id=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10&data=name&html=true");
    EXPECT_EQ(currentVersionLabel(result.currentVersion), "当前版本号v3.9");
    EXPECT_EQ(latestVersionLabel(result.release.latestVersion), "最新版本号v3.10");

    // Notes the service does not vouch for (or cannot tell about) stay plain text.
    set(instance, [](const HttpRequest&) { return HttpResponse::text("false"); });
    EXPECT_FALSE(check().notesAreHtml);
    set(instance, [](const HttpRequest&) { return HttpResponse::text("true", "text/plain", 500); });
    EXPECT_FALSE(check().notesAreHtml);
}

TEST_F(VersionService, SameOrOlderReleaseIsUpToDateWithoutSecondRequest) {
    set(version, [](const HttpRequest&) { return HttpResponse::text("3.9|x|y|z|w"); });
    EXPECT_EQ(check().outcome, VersionOutcome::UpToDate);
    set(version, [](const HttpRequest&) { return HttpResponse::text("3.8.9|x|y|z|w"); });
    EXPECT_EQ(check().outcome, VersionOutcome::UpToDate);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(VersionService, EachKindOfFailureHasItsMessage) {
    set(version, [](const HttpRequest&) { return HttpResponse::text("no"); });
    VersionCheckResult unknown = check();
    EXPECT_EQ(unknown.outcome, VersionOutcome::UnknownInstance);
    EXPECT_EQ(unknown.message, "注意：服务器查询不到实例信息,请检查实例ID是否正确");

    for (auto abnormal : std::vector<std::function<HttpResponse(const HttpRequest&)>>{
             [](const HttpRequest&) { return HttpResponse::text("oops", "text/plain", 500); },
             [](const HttpRequest&) { return HttpResponse::text("<html>maintenance</html>"); },
             [](const HttpRequest&) { return HttpResponse::text("3.x|a|b|c|d"); },
             [](const HttpRequest&) {
                 HttpResponse cut = HttpResponse::text(std::string(5000, 'x'));
                 cut.cutAfter = 100;
                 return cut;
             }}) {
        set(version, abnormal);
        VersionCheckResult result = check();
        EXPECT_EQ(result.outcome, VersionOutcome::AbnormalAnswer);
        EXPECT_EQ(result.message, "· 服务器连接异常、稍后再试！");
        EXPECT_FALSE(result.detail.empty());
    }

    set(version, [](const HttpRequest&) {
        HttpResponse silent;
        silent.dropWithoutReply = true;
        return silent;
    });
    VersionCheckResult dropped = check();
    EXPECT_EQ(dropped.outcome, VersionOutcome::NoAnswer);
    EXPECT_EQ(dropped.message, "· 无法连接服务器、请检查网络配置！");
}

TEST(VersionCheck, UnreachableOrUnconfiguredService) {
    std::string closedBase;
    {
        demo::HttpServer gone([](const HttpRequest&) { return HttpResponse::text(""); });
        closedBase = gone.base();
    }
    VersionCheckOptions options;
    options.base = closedBase;
    VersionCheckResult result = checkForUpdate(options);
    EXPECT_EQ(result.outcome, VersionOutcome::NoAnswer);
    EXPECT_EQ(result.message, "· 无法连接服务器、请检查网络配置！");

    config::set("VANTOREL_VERSION_BASE", "");
    EXPECT_EQ(checkForUpdate().outcome, VersionOutcome::NotConfigured);
    config::unset("VANTOREL_VERSION_BASE");
}
