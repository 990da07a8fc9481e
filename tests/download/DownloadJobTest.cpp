// The one download job: addresses tried in order, share links resolved first, web pages refused
// where an installer is expected, and what is left in the folder after each outcome.

#include "download/DownloadJob.h"
#include "common/Config.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"
#include "download/Staging.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace vantorel;
using namespace vantorel::download;
namespace fs = std::filesystem;

using vantorel::testing::readFile;

namespace {

std::size_t filesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

JobView waitFinished(const DownloadJob& job) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!job.view().finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return job.view();
}

class DownloadJobTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = vantorel::testing::freshTestFolder("vantorel-job"); }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

JobOptions installerExpected() {
    JobOptions options;
    options.refuseWebPages = true;
    return options;
}

} // namespace

TEST_F(DownloadJobTest, FallsBackToTheSecondAddressAndLeavesOnlyTheFile) {
    demo::RangeServer server;
    const std::string installer(700'000, 'x');
    server.add("/live/setup.exe", installer);
    const std::string target = (folder_ / "setup.exe").string();

    DownloadJob job({server.url("/dead/setup.exe"), server.url("/live/setup.exe")}, target);
    job.start();
    const JobView view = waitFinished(job);
    ASSERT_EQ(view.phase, JobPhase::Done) << view.error;
    EXPECT_EQ(view.percent, 100);
    EXPECT_EQ(view.file, target);
    EXPECT_TRUE(readFile(target) == installer);
    EXPECT_EQ(filesIn(folder_), 1u);
}

TEST_F(DownloadJobTest, APartLeftByOneAddressIsTakenUpFirstAndNamedInTheFailure) {
    const std::string installer = vantorel::testing::randomContent(1 << 20, 9);
    demo::RangeServer server;
    server.add("/b/setup.exe", installer);
    server.add("/c/setup.exe", installer);
    // Half the file, however it was asked for, then every connection is closed unanswered.
    demo::RangeFaults dying;
    dying.goneAfterBytes = installer.size() / 2;
    dying.goneStatus = 0;
    server.setFaults(dying);
    const std::string dead = "http://127.0.0.1:1/a/setup.exe";
    const std::string live = server.url("/b/setup.exe");
    const std::string target = (folder_ / "setup.exe").string();
    JobOptions options;
    options.workers = 1;
    options.retryDelay = std::chrono::milliseconds(2);
    options.giveUpAfter = std::chrono::milliseconds(1000);

    // The second address breaks off half-way after the first failed: the failure that
    // matters is the one that kept a part.
    const JobView failed = DownloadJob({live, dead}, target, options).run();
    ASSERT_EQ(failed.phase, JobPhase::Failed);
    EXPECT_NE(failed.error.find("再次下载时从中断处继续"), std::string::npos) << failed.error;
    EXPECT_EQ(filesIn(folder_), 2u);

    // A mirror listed first would fetch it all again: the address that left the part goes first.
    server.setFaults({});
    const JobView resumed = DownloadJob({server.url("/c/setup.exe"), live}, target, options).run();
    ASSERT_EQ(resumed.phase, JobPhase::Done) << resumed.error;
    EXPECT_GT(resumed.progress.resumed, 0u);
    EXPECT_TRUE(readFile(target) == installer);
    EXPECT_EQ(filesIn(folder_), 1u);
}

TEST_F(DownloadJobTest, RefusedPageKeepsAnExistingFileAndSaysWhy) {
    demo::RangeServer server;
    server.add("/page.exe", "<!DOCTYPE html><html><body>not found</body></html>");
    const fs::path target = folder_ / "app.exe";
    std::ofstream(target) << "previous";

    // An error page in place of the installer, with a second address that does not exist.
    DownloadJob job({server.url("/page.exe"), server.url("/missing.exe")}, target.string(),
                    installerExpected());
    const JobView view = job.run();
    EXPECT_EQ(view.phase, JobPhase::AddressError);
    EXPECT_NE(view.error.find("网页"), std::string::npos) << view.error;
    EXPECT_EQ(readFile(target), "previous");
    EXPECT_EQ(filesIn(folder_), 1u);

    DownloadJob pageOnly({server.url("/page.exe")}, target.string(), installerExpected());
    EXPECT_EQ(pageOnly.run().phase, JobPhase::AddressError);
    EXPECT_EQ(filesIn(folder_), 1u);
}

TEST_F(DownloadJobTest, AFilePutAtTheTargetWhileItRunsIsNeverReplaced) {
    demo::RangeServer server;
    server.add("/a.exe", std::string(300'000, 'a'));
    demo::RangeFaults slow;
    slow.throttleBytes = 16 * 1024;
    slow.throttleDelay = std::chrono::milliseconds(20);
    server.setFaults(slow);
    const fs::path target = folder_ / "a.exe";

    // The mirror is not tried either: it would land on the same file.
    DownloadJob job({server.url("/a.exe"), server.url("/a.exe")}, target.string());
    job.start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (job.view().progress.arrived == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ofstream(target) << "notes";
    const JobView view = waitFinished(job);
    EXPECT_EQ(view.phase, JobPhase::Failed);
    EXPECT_NE(view.error.find("不会覆盖"), std::string::npos) << view.error;
    EXPECT_EQ(readFile(target), "notes");
    EXPECT_EQ(filesIn(folder_), 1u);
}

TEST_F(DownloadJobTest, CancelStopsAndLeavesNothing) {
    demo::RangeServer server;
    server.add("/big.exe", std::string(4'000'000, 'b'));
    demo::RangeFaults slow;
    slow.throttleBytes = 16 * 1024;
    slow.throttleDelay = std::chrono::milliseconds(50);
    server.setFaults(slow);

    DownloadJob job({server.url("/big.exe")}, (folder_ / "big.exe").string());
    job.start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (job.view().phase != JobPhase::Downloading && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    job.cancel();
    EXPECT_EQ(waitFinished(job).phase, JobPhase::Cancelled);
    EXPECT_EQ(filesIn(folder_), 0u);
}

TEST_F(DownloadJobTest, AShareLinkIsResolvedToItsFileFirst) {
    demo::DemoServices services;
    services.applyToConfig();
    const fs::path target = folder_ / "shared.exe";

    DownloadJob job({"https://share.vantorel.example/iVantorel310"}, target.string());
    const JobView view = job.run();
    demo::DemoServices::removeFromConfig();
    ASSERT_EQ(view.phase, JobPhase::Done) << view.error;

    // The demo's shared file: 8 MiB of a fixed sequence.
    const std::string bytes = readFile(target);
    ASSERT_EQ(bytes.size(), 8u << 20);
    std::uint32_t state = 0x5eed1234u;
    std::size_t mismatches = 0;
    for (char c : bytes) {
        state = state * 1664525u + 1013904223u;
        mismatches += c != static_cast<char>(state >> 24);
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(DownloadJobTest, CancellingStopsAShareLinkStepUnderWayAtOnce) {
    // The share service takes three seconds to answer its first step.
    demo::HttpServer slow([](const demo::HttpRequest&) {
        demo::HttpResponse late = demo::HttpResponse::text("");
        late.delayBeforeHead = std::chrono::seconds(3);
        return late;
    });
    config::set("VANTOREL_SHARE_BASE", slow.base());
    config::set("VANTOREL_SHARE_HOSTS", "share.test");
    DownloadJob job({"https://share.test/s/abc"}, (folder_ / "shared.exe").string());
    job.start();
    while (slow.requests().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto cancelled = std::chrono::steady_clock::now();
    job.cancel();
    const JobView view = waitFinished(job);
    config::unset("VANTOREL_SHARE_BASE");
    config::unset("VANTOREL_SHARE_HOSTS");
    EXPECT_EQ(view.phase, JobPhase::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::milliseconds(1500));
}

TEST(Staging, OnlyHtmlDocumentsLookLikePages) {
    fs::path file = fs::temp_directory_path() / ("vantorel-page-" + std::to_string(::getpid()));
    auto looks = [&](std::string content) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        return looksLikeWebPage(file);
    };
    EXPECT_TRUE(looks("<html><body>x</body></html>"));
    EXPECT_TRUE(looks("\n\t<!doctype html>"));
    EXPECT_FALSE(looks("MZ\x90\0<html>"));
    EXPECT_FALSE(looks(""));
    EXPECT_FALSE(looks("   "));
    fs::remove(file);
    EXPECT_FALSE(looksLikeWebPage(file));
}

TEST_F(DownloadJobTest, AnAddressNamingAFileNeverSavesAWebPageInItsPlace) {
    // An expired signed address sends the client to the service's notice page.
    const std::string notice = "<!doctype html><title>链接已失效</title>";
    demo::HttpServer server([&](const demo::HttpRequest& req) {
        if (req.path == "/signed/setup.exe") {
            demo::HttpResponse moved = demo::HttpResponse::text("", "text/plain", 302);
            moved.headers.emplace_back("Location", "/expired");
            return moved;
        }
        return demo::HttpResponse::text(notice, "text/html; charset=utf-8");
    });
    const fs::path target = folder_ / "setup.exe";
    const JobView refused = DownloadJob({server.base() + "/signed/setup.exe"}, target).run();
    EXPECT_EQ(refused.phase, JobPhase::AddressError);
    EXPECT_EQ(filesIn(folder_), 0u);

    // An address that names a page still saves the page.
    const fs::path page = folder_ / "notice.html";
    const JobView saved = DownloadJob({server.base() + "/notice.html"}, page).run();
    ASSERT_EQ(saved.phase, JobPhase::Done) << saved.error;
    EXPECT_EQ(readFile(page), notice);
}
