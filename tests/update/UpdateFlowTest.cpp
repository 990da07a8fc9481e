#include "update/UpdateFlow.h"
#include "common/Config.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace vantorel;
using namespace vantorel::update;
namespace fs = std::filesystem;

namespace {

class UpdateFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("vantorel-flow-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        demo::DemoServices::removeFromConfig();
        fs::remove_all(folder_);
    }

    // Polls the flow as a window would, recording every phase and percent it showed.
    UpdateView waitForEnd(UpdateFlow& flow, std::vector<UpdateView>* seen = nullptr) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        UpdateView v = flow.view();
        while (!v.finished() && std::chrono::steady_clock::now() < deadline) {
            if (seen)
                seen->push_back(v);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            v = flow.view();
        }
        return v;
    }

    fs::path folder_;
};

ReleaseInfo releaseAt(std::string address, std::string fileName = "new.bin") {
    return ReleaseInfo{"3.10", std::move(address), std::move(fileName), "", ""};
}

} // namespace

TEST_F(UpdateFlowTest, DemoReleaseDownloadsWithProgressToTheEnd) {
    demo::DemoServices services;
    services.applyToConfig();
    VersionCheckResult check = checkForUpdate();
    ASSERT_EQ(check.outcome, VersionOutcome::NewerRelease) << check.detail;

    UpdateFlow flow(check.release, folder_.string());
    EXPECT_EQ(flow.view().phase, UpdatePhase::Idle);
    flow.start();
    std::vector<UpdateView> seen;
    UpdateView end = waitForEnd(flow, &seen);

    ASSERT_EQ(end.phase, UpdatePhase::Done) << end.detail;
    EXPECT_EQ(end.status, "下载完毕~");
    EXPECT_EQ(end.message, "下载完毕~");
    EXPECT_EQ(end.percent, 100);
    EXPECT_EQ(end.percentText, "100%");
    EXPECT_EQ(end.file, (folder_ / "Vantorel_v3.10.bin").string());
    EXPECT_EQ(fs::file_size(end.file), 8u << 20);

    bool sawResolving = false, sawDownloading = false;
    int lastPercent = 0;
    for (const UpdateView& v : seen) {
        sawResolving |= v.status == "正在解析、";
        sawDownloading |= v.status == "正在下载、";
        EXPECT_GE(v.percent, lastPercent); // progress never goes back
        lastPercent = v.percent;
    }
    EXPECT_TRUE(sawResolving);
    EXPECT_TRUE(sawDownloading);
}

TEST_F(UpdateFlowTest, WebPagePosingAsTheFileIsAnAddressError) {
    demo::HttpServer pages([](const demo::HttpRequest&) {
        return demo::HttpResponse::text("<html><body>登录后下载</body></html>",
                                        "text/html; charset=utf-8");
    });
    UpdateFlow flow(releaseAt(pages.base() + "/file/x"), folder_.string());
    flow.start();
    UpdateView end = waitForEnd(flow);
    EXPECT_EQ(end.phase, UpdatePhase::AddressError);
    EXPECT_EQ(end.status, "后台地址有误，需联系作者处理、");
    EXPECT_EQ(end.message, "后台地址有误，需联系作者处理、");
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(UpdateFlowTest, PageThatHidesFromHeadIsCaughtAfterTheDownload) {
    // HEAD says "a file"; the body is a login page.
    demo::HttpServer sly([](const demo::HttpRequest& r) {
        demo::HttpResponse page = demo::HttpResponse::text(
            "\xEF\xBB\xBF\r\n  <!DOCTYPE HTML><html><body>请先登录</body></html>",
            "application/octet-stream");
        if (r.method == "HEAD")
            page.body.clear();
        return page;
    });
    fs::path older = folder_ / "new.bin";
    std::ofstream(older) << "older copy";
    UpdateFlow flow(releaseAt(sly.base() + "/file/x"), folder_.string());
    flow.start();
    UpdateView end = waitForEnd(flow);
    EXPECT_EQ(end.phase, UpdatePhase::AddressError) << end.detail;
    std::ifstream in(older);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "older copy");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder_))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST_F(UpdateFlowTest, UnusableAddressesNeverStartADownload) {
    config::set("VANTOREL_SHARE_HOSTS", "share.test");
    config::set("VANTOREL_SHARE_BASE", "http://127.0.0.1:1");
    for (std::string address :
         {"", "file:///etc/passwd", "javascript:alert(1)", "https://share.test/unreachable"}) {
        UpdateFlow flow(releaseAt(address), folder_.string());
        flow.start();
        UpdateView end = waitForEnd(flow);
        EXPECT_EQ(end.phase, UpdatePhase::AddressError) << address;
        EXPECT_FALSE(end.detail.empty());
    }
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(UpdateFlowTest, FailedDownloadKeepsAnOlderFileAndInvitesARetry) {
    demo::RangeServer files;
    files.add("/file/ok", "content");
    fs::path older = folder_ / "new.bin";
    std::ofstream(older) << "older copy";
    UpdateFlow flow(releaseAt(files.url("/file/missing")), folder_.string());
    flow.start();
    UpdateView end = waitForEnd(flow);
    EXPECT_EQ(end.phase, UpdatePhase::Failed);
    EXPECT_EQ(end.status, "下载失败！");
    EXPECT_EQ(end.message, "下载失败,请重试、");
    std::ifstream in(older);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "older copy");
}

TEST_F(UpdateFlowTest, CancelStopsTheDownloadAndLeavesNothing) {
    demo::RangeServer files;
    files.add("/file/big", std::string(4u << 20, 'x'));
    demo::RangeFaults slow;
    slow.throttleBytes = 16 * 1024;
    slow.throttleDelay = std::chrono::milliseconds(100);
    files.setFaults(slow);
    UpdateFlow flow(releaseAt(files.url("/file/big")), folder_.string());
    flow.start();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (flow.view().phase != UpdatePhase::Downloading &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(flow.view().phase, UpdatePhase::Downloading);
    flow.cancel();
    UpdateView end = waitForEnd(flow);
    EXPECT_EQ(end.phase, UpdatePhase::Cancelled);
    EXPECT_EQ(end.message, "");
    EXPECT_TRUE(fs::is_empty(folder_)); // no file, no leftovers
}

TEST_F(UpdateFlowTest, DestroyingARunningFlowStopsIt) {
    demo::RangeServer files;
    files.add("/file/big", std::string(4u << 20, 'x'));
    demo::RangeFaults slow;
    slow.throttleBytes = 16 * 1024;
    slow.throttleDelay = std::chrono::milliseconds(100);
    files.setFaults(slow);
    {
        UpdateFlow flow(releaseAt(files.url("/file/big")), folder_.string());
        flow.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_FALSE(fs::exists(folder_ / "new.bin"));
}

TEST(UpdateFlowNames, ReleaseFileNameStaysInsideItsFolder) {
    EXPECT_EQ(releaseFileName({"3.10", "", "setup.exe", "", ""}), "setup.exe");
    EXPECT_EQ(releaseFileName({"3.10", "", "", "", ""}), "Vantorel_v3.10");
    std::string hostile = releaseFileName({"3.10", "", "../../etc/passwd", "", ""});
    EXPECT_EQ(hostile.find('/'), std::string::npos);
    EXPECT_EQ(hostile.find(".."), std::string::npos);
}

TEST(UpdateFlowNames, OnlyAProgramBesideItsReplacementIsRetired) {
    fs::path folder = fs::temp_directory_path() / ("vantorel-retire-" + std::to_string(::getpid()));
    fs::create_directories(folder / "other");
    for (auto name : {"prog", "new.bin", "other/new.bin"})
        std::ofstream(folder / name) << "x";
    auto p = [&](const char* name) { return (folder / name).string(); };
    EXPECT_TRUE(shouldRetireProgram(p("prog"), p("new.bin")));
    EXPECT_FALSE(shouldRetireProgram(p("prog"), p("prog")));
    EXPECT_FALSE(shouldRetireProgram(p("prog"), p("other/new.bin")));
    EXPECT_FALSE(shouldRetireProgram(p("prog"), p("absent.bin")));
    EXPECT_FALSE(shouldRetireProgram("", p("new.bin")));
    fs::remove_all(folder);
}
