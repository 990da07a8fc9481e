// What a failed download leaves for the next run, and replies that cannot prove they belong to
// the file being fetched.

#include "demo/RangeServer.h"
#include "download/Downloader.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace vantorel;
using demo::HttpRequest;
using demo::HttpResponse;
using download::Downloader;
using download::DownloadRequest;
using download::DownloadState;
namespace fs = std::filesystem;

using vantorel::testing::randomContent;
using vantorel::testing::readFile;

namespace {

constexpr std::string_view kKept = "已下载的部分已保留，再次下载时从中断处继续";

bool isProbe(const HttpRequest& r) {
    return r.header("Range") == "bytes=0-0" && !r.hasHeader("If-Range");
}

bool promisesResume(const std::string& message) {
    return message.ends_with(kKept);
}

class DownloaderRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = vantorel::testing::freshTestFolder("vantorel-recovery"); }
    void TearDown() override { fs::remove_all(dir_); }

    // One worker, small first requests, quick retries, and a short patience for a dead server.
    DownloadRequest request(const std::string& url) const {
        DownloadRequest r;
        r.url = url;
        r.target = (dir_ / "target.bin").string();
        r.workers = 1;
        r.minRangeBytes = 1;
        r.retryDelay = std::chrono::milliseconds(2);
        r.maxRetries = 2;
        r.giveUpAfter = std::chrono::milliseconds(1500);
        return r;
    }
    std::size_t sideFiles() const {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator(dir_))
            n += entry.path().filename() != "target.bin";
        return n;
    }
    fs::path target() const { return dir_ / "target.bin"; }

    fs::path dir_;
};

// Half of a 1 MiB file, however it is asked for, and then every request fails: unanswered
// (status 0), busy (503) or gone (404). The reply under way at the half is cut.
demo::RangeFaults failingAfterHalf(int status) {
    demo::RangeFaults faults;
    faults.goneAfterBytes = 512 << 10;
    faults.goneStatus = status;
    return faults;
}

TEST_F(DownloaderRecoveryTest, NetworkFailuresKeepThePartShowTheRetryAndTheNextRunResumes) {
    const std::string content = randomContent(1 << 20, 1);
    // A server without validators too: the next run proves the part by sampled blocks.
    for (const auto& [failure, bare] :
         {std::pair{0, false}, std::pair{503, false}, std::pair{0, true}}) {
        SCOPED_TRACE(failure + bare);
        demo::RangeServer server;
        server.add("/f.bin", content);
        demo::RangeFaults faults = failingAfterHalf(failure);
        faults.noValidators = bare;
        server.setFaults(faults);
        Downloader downloader(request(server.url("/f.bin")));
        std::atomic<bool> done{false}, sawCountdown{false};
        std::thread watcher([&] {
            while (!done.load()) {
                const auto s = downloader.progress().snapshot();
                sawCountdown = sawCountdown ||
                               (s.state == DownloadState::Stalled && s.retryIn > 0 &&
                                download::progressLabel(s).find("秒后重试") != std::string::npos);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        auto failed = downloader.run();
        done = true;
        watcher.join();
        ASSERT_FALSE(failed);
        EXPECT_TRUE(promisesResume(failed.error().message)) << failed.error().message;
        EXPECT_TRUE(failed.error().partKept);
        EXPECT_EQ(failed.error().kind,
                  failure == 503 ? FailureKind::ServerBusy : FailureKind::Network);
        EXPECT_TRUE(sawCountdown);
        EXPECT_EQ(sideFiles(), 2u); // the part and its state

        demo::RangeFaults healed;
        healed.noValidators = bare;
        server.setFaults(healed);
        auto resumed = Downloader(request(server.url("/f.bin"))).run();
        ASSERT_TRUE(resumed) << resumed.error().message;
        EXPECT_GT(resumed->resumedBytes, 0u);
        EXPECT_TRUE(readFile(target()) == content);
        EXPECT_EQ(sideFiles(), 0u);
        fs::remove(target());
    }
}

TEST_F(DownloaderRecoveryTest, NothingIsKeptOrPromisedWhenTheNextRunCouldNotResume) {
    const std::string content = randomContent(1 << 20, 2);
    // The file vanished from the server half-way.
    demo::RangeServer gone;
    gone.add("/f.bin", content);
    gone.setFaults(failingAfterHalf(404));
    auto failed = Downloader(request(gone.url("/f.bin"))).run();
    ASSERT_FALSE(failed);
    EXPECT_FALSE(promisesResume(failed.error().message)) << failed.error().message;
    EXPECT_EQ(sideFiles(), 0u);

    // Only a weak ETag, and not a byte of the file arrives: a later run could prove nothing, so
    // neither a failure nor an interrupt keeps the part.
    demo::RangeFiles files;
    files.add("/f.bin", content);
    demo::HttpServer weak([&](const HttpRequest& req) {
        HttpResponse response = files.respond(req);
        std::erase_if(response.headers, [](const auto& h) { return h.first == "Last-Modified"; });
        for (auto& [name, value] : response.headers)
            if (name == "ETag")
                value = "W/" + value;
        if (!isProbe(req) && req.hasHeader("Range"))
            response.dropWithoutReply = true;
        return response;
    });
    failed = Downloader(request(weak.base() + "/f.bin")).run();
    ASSERT_FALSE(failed);
    EXPECT_FALSE(promisesResume(failed.error().message)) << failed.error().message;
    EXPECT_EQ(sideFiles(), 0u);

    Downloader interrupted(request(weak.base() + "/f.bin"));
    interrupted.interrupt();
    auto stopped = interrupted.run();
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().message.find("从中断处继续"), std::string::npos);
    EXPECT_EQ(sideFiles(), 0u);
}

TEST_F(DownloaderRecoveryTest, AFileGoneWhenTheNextRunAsksEndsItsPart) {
    const std::string content = randomContent(1 << 20, 6);
    demo::RangeServer server;
    server.add("/f.bin", content);
    server.setFaults(failingAfterHalf(0));
    ASSERT_FALSE(Downloader(request(server.url("/f.bin"))).run());
    ASSERT_EQ(sideFiles(), 2u);

    demo::HttpServer gone(
        [](const HttpRequest&) { return HttpResponse::text("gone", "text/plain", 410); });
    DownloadRequest again = request(gone.base() + "/f.bin");
    again.resumeKey = server.url("/f.bin");
    auto failed = Downloader(again).run();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, FailureKind::Gone);
    EXPECT_FALSE(failed.error().partKept);
    EXPECT_EQ(sideFiles(), 0u);
}

TEST_F(DownloaderRecoveryTest, AnotherAddressFailingLeavesThePartAndANewSignedAddressResumesIt) {
    const std::string content = randomContent(1 << 20, 3);
    demo::RangeServer server;
    server.add("/f.bin", content);
    server.setFaults(failingAfterHalf(0));
    const std::string share = "https://share.example/s/abc";
    DownloadRequest first = request(server.url("/f.bin?sig=1"));
    first.resumeKey = share;
    ASSERT_FALSE(Downloader(first).run());
    ASSERT_EQ(sideFiles(), 2u);

    // A mirror of the same entry that is dead, and one whose file is missing: neither may
    // touch the part the share link's address left.
    DownloadRequest dead = request("http://127.0.0.1:1/f.bin");
    dead.resumeKey = dead.url;
    EXPECT_FALSE(Downloader(dead).run());
    server.setFaults({});
    DownloadRequest missing = request(server.url("/missing.bin"));
    EXPECT_FALSE(Downloader(missing).run());
    EXPECT_EQ(sideFiles(), 2u);

    // The share link resolves to a new signed address: same file, same validators.
    DownloadRequest again = request(server.url("/f.bin?sig=2"));
    again.resumeKey = share;
    auto resumed = Downloader(again).run();
    ASSERT_TRUE(resumed) << resumed.error().message;
    EXPECT_GT(resumed->resumedBytes, 0u);
    EXPECT_TRUE(readFile(target()) == content);
}

TEST_F(DownloaderRecoveryTest, RepliesThatCannotProveTheirVersionNeverMixIntoTheFile) {
    const std::string v1 = randomContent(1 << 20, 4), v2 = randomContent(1 << 20, 5);
    // Ranges are sent on to a mirror that serves other bytes without validators.
    demo::RangeFiles mirrorFiles;
    mirrorFiles.add("/f.bin", v2);
    demo::RangeFaults bare;
    bare.noValidators = true;
    mirrorFiles.setFaults(bare);
    demo::HttpServer mirror([&](const HttpRequest& req) { return mirrorFiles.respond(req); });
    demo::RangeFiles files;
    files.add("/f.bin", v1);
    demo::HttpServer origin([&](const HttpRequest& req) {
        if (isProbe(req))
            return files.respond(req);
        HttpResponse moved;
        moved.status = 302;
        moved.headers.emplace_back("Location", mirror.base() + "/f.bin");
        return moved;
    });
    auto redirected = Downloader(request(origin.base() + "/f.bin")).run();
    ASSERT_FALSE(redirected);
    EXPECT_FALSE(fs::exists(target()));

    // The server switches the file part-way through the first range and drops its validators:
    // the download starts over once and the file is the new version, whole. (The first range is
    // cut, as a busy machine may ask for the whole file at once.)
    std::atomic<int> ranges{0};
    demo::HttpServer switching([&](const HttpRequest& req) {
        if (isProbe(req))
            return (ranges.load() == 0 ? files : mirrorFiles).respond(req);
        if (ranges++ != 0)
            return mirrorFiles.respond(req);
        HttpResponse first = files.respond(req);
        first.cutAfter = 64 << 10;
        return first;
    });
    auto switched = Downloader(request(switching.base() + "/f.bin")).run();
    ASSERT_TRUE(switched) << switched.error().message;
    EXPECT_TRUE(readFile(target()) == v2);
}

TEST_F(DownloaderRecoveryTest, RedirectLoopsRefusedSchemesAndHugeHeadersSayWhatHappened) {
    demo::HttpServer server([](const HttpRequest& req) {
        HttpResponse response = HttpResponse::text("x");
        if (req.path == "/loop" || req.path == "/ftp") {
            response.status = 302;
            response.headers.emplace_back("Location",
                                          req.path == "/loop" ? "/loop" : "ftp://127.0.0.1/f");
        } else {
            response.headers.emplace_back("X-Padding", std::string(300 << 10, 'a'));
        }
        return response;
    });
    const std::pair<const char*, const char*> cases[] = {
        {"/loop", "重定向次数过多"}, {"/ftp", "不支持的地址"}, {"/huge", "协议头过长"}};
    for (const auto& [path, words] : cases) {
        auto result = Downloader(request(server.base() + path)).run();
        ASSERT_FALSE(result);
        EXPECT_NE(result.error().message.find(words), std::string::npos)
            << path << ": " << result.error().message;
    }
}

TEST_F(DownloaderRecoveryTest, TheLimitHoldsAndItsSlownessNeverTripsTheFloor) {
    // 4 workers sharing 16 KiB/s: 4 KiB/s each, under the 8 KiB/s floor they were given.
    const std::string content = randomContent(40 << 10, 6);
    demo::RangeServer server;
    server.add("/f.bin", content);
    DownloadRequest r = request(server.url("/f.bin"));
    r.workers = 4;
    r.limit = std::make_shared<download::SpeedLimit>(16 << 10);
    r.speedFloor = 8 << 10;
    r.floorTime = std::chrono::milliseconds(1000);
    r.giveUpAfter = std::chrono::milliseconds(1500);
    const auto started = std::chrono::steady_clock::now();
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);
    // 40 KiB at 16 KiB/s, less the quarter second the limit lets through at once.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2200));
}

} // namespace
