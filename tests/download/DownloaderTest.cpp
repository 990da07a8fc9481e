#include "download/Downloader.h"
#include "demo/RangeServer.h"
#include "download/ResumeState.h"
#include "net/HeaderBlock.h"
#include "net/Transport.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <set>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

using namespace vantorel;
using demo::HttpRequest;
using demo::HttpResponse;
using demo::RangeFaults;
using download::Downloader;
using download::DownloadMode;
using download::DownloadRequest;
using download::DownloadState;
namespace fs = std::filesystem;

using vantorel::testing::randomContent;
using vantorel::testing::readFile;

namespace {

void writeFile(const fs::path& path, std::string_view content) {
    std::ofstream(path, std::ios::binary) << content;
}

class DownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = vantorel::testing::freshTestFolder("vantorel-download"); }
    void TearDown() override { fs::remove_all(dir_); }

    // Small ranges are allowed so that small files still use every worker; retries are quick.
    DownloadRequest request(const std::string& path, unsigned workers = 4) const {
        DownloadRequest r;
        r.url = server_.url(path);
        r.target = (dir_ / "target.bin").string();
        r.workers = workers;
        r.minRangeBytes = 1;
        r.retryDelay = std::chrono::milliseconds(2);
        return r;
    }

    // Everything in the folder besides the target: a temporary file left behind shows up here.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().filename() != "target.bin")
                names.push_back(entry.path().filename().string());
        return names;
    }

    // The probe asks for the first byte, without If-Range.
    static bool isProbe(const HttpRequest& r) {
        return r.header("Range") == "bytes=0-0" && !r.hasHeader("If-Range");
    }
    // The closing proof asks for blocks of the file without If-Range, to get what the server
    // has now.
    static bool isProofBlock(const HttpRequest& r) {
        return r.hasHeader("Range") && !r.hasHeader("If-Range") && !isProbe(r);
    }
    // The workers' requests for ranges: the server sends validators, so they carry If-Range.
    std::vector<HttpRequest> rangeRequests() const {
        std::vector<HttpRequest> ranged;
        for (auto& r : server_.http().requests())
            if (r.hasHeader("Range") && r.hasHeader("If-Range"))
                ranged.push_back(r);
        return ranged;
    }

    fs::path target() const { return dir_ / "target.bin"; }

    mutable demo::RangeServer server_;
    fs::path dir_;
};

TEST_F(DownloaderTest, FetchesEverySizeWithOneFourAndEightWorkers) {
    for (std::size_t size :
         {std::size_t(1), std::size_t(2), std::size_t(1001), std::size_t(5 * 1024 * 1024 + 3)}) {
        const std::string content = randomContent(size, static_cast<unsigned>(size));
        server_.add("/f.bin", content);
        for (unsigned workers : {1u, 4u, 8u}) {
            SCOPED_TRACE("size " + std::to_string(size) + ", workers " + std::to_string(workers));
            Downloader downloader(request("/f.bin", workers));
            auto result = downloader.run();
            ASSERT_TRUE(result) << result.error().message;
            EXPECT_EQ(result->mode, DownloadMode::Ranges);
            EXPECT_EQ(result->ranges, std::min<std::size_t>(workers, size));
            EXPECT_EQ(result->bytes, size);
            EXPECT_TRUE(readFile(target()) == content);
            auto progress = downloader.progress().snapshot();
            EXPECT_EQ(progress.state, DownloadState::Done);
            EXPECT_EQ(progress.arrived, size);
            EXPECT_EQ(progress.percent(), 100);
            EXPECT_TRUE(strayFiles().empty());
        }
    }
}

TEST_F(DownloaderTest, ZeroByteFileIsCreatedEmpty) {
    server_.add("/empty", "");
    writeFile(target(), "old content");
    Downloader downloader(request("/empty"));
    auto result = downloader.run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->mode, DownloadMode::Empty);
    EXPECT_TRUE(fs::exists(target()));
    EXPECT_EQ(fs::file_size(target()), 0u);
    EXPECT_EQ(downloader.progress().snapshot().percent(), 100);
    EXPECT_TRUE(rangeRequests().empty());
}

TEST_F(DownloaderTest, RequestsCarryTheHeaderBlockAndRangesTileTheFile) {
    const std::string content = randomContent(10007, 7);
    server_.add("/f.bin", content);
    DownloadRequest r = request("/f.bin", 3);
    r.minRangeBytes = 3000; // no range is large enough to be shared
    ASSERT_TRUE(Downloader(r).run());

    const auto all = server_.http().requests();
    EXPECT_TRUE(isProbe(all[0]));
    ASSERT_EQ(rangeRequests().size(), 3u);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
    std::set<std::string> ifRanges;
    for (const auto& r : all) {
        ASSERT_GE(r.headers.size(), 5u);
        EXPECT_EQ(r.headers[0].first, "Host");
        const std::vector<std::pair<std::string, std::string>> block(r.headers.begin() + 1,
                                                                     r.headers.begin() + 5);
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"Accept", "*/*"},
            {"Accept-Language", "zh-cn"},
            {"Accept-Encoding", "gzip, deflate"},
            {"User-Agent",
             "Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)"}};
        EXPECT_EQ(block, expected);
        if (isProbe(r) || isProofBlock(r)) {
            EXPECT_EQ(r.headers.size(), 6u);
        } else {
            // The range, then the probe's validator so that no range mixes versions.
            ASSERT_EQ(r.headers.size(), 7u);
            EXPECT_EQ(r.headers[5].first, "Range");
            EXPECT_EQ(r.headers[6].first, "If-Range");
            ifRanges.insert(r.headers[6].second);
            const std::string range = r.header("Range");
            ASSERT_TRUE(range.starts_with("bytes="));
            const auto dash = range.find('-');
            asked.emplace_back(std::stoull(range.substr(6, dash - 6)),
                               std::stoull(range.substr(dash + 1)));
        }
    }
    ASSERT_EQ(ifRanges.size(), 1u); // the ETag of the file
    EXPECT_TRUE(ifRanges.begin()->starts_with("\""));
    // The ranges tile the file, each reaching back at most 64 bytes (1/128 of a range this small,
    // at least 64) into bytes held to compare them.
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked.front().first, 0u);
    EXPECT_EQ(asked.back().second, content.size() - 1);
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_LE(asked[i].first, asked[i - 1].second + 1);
        EXPECT_GE(asked[i].first + 64 * 2, asked[i - 1].second + 1);
    }
}

TEST_F(DownloaderTest, RangeHeaderHasNoSpaceAfterTheColon) {
    EXPECT_EQ(download::requestHeaders({5, 99}),
              std::string(download::kRequestHeaderBlock) + "\r\nRange:bytes=5-99");
}

TEST_F(DownloaderTest, ServerThatIgnoresOrMisplacesRangesFallsBackToOneStream) {
    const std::string content = randomContent(300001, 3);
    server_.add("/f.bin", content);
    for (bool ignore : {true, false}) {
        SCOPED_TRACE(ignore ? "ranges ignored" : "wrong Content-Range");
        RangeFaults faults;
        faults.ignoreRanges = ignore;
        faults.wrongContentRange = !ignore;
        server_.setFaults(faults);
        Downloader downloader(request("/f.bin", 8));
        auto result = downloader.run();
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_EQ(result->mode, DownloadMode::Stream);
        EXPECT_TRUE(readFile(target()) == content);
        EXPECT_EQ(downloader.progress().snapshot().arrived, content.size());
        EXPECT_TRUE(strayFiles().empty());
        // A server that ignores ranges shows it in the probe's reply: no worker asks for one.
        if (ignore) {
            EXPECT_TRUE(rangeRequests().empty());
        }
    }
}

TEST_F(DownloaderTest, WholeReplyToTheProbeFromAServerThatAcceptsRangesStillGetsRanges) {
    // Like a cache that answers a range of a file it has not stored yet with the whole file.
    const std::string content = randomContent(300001, 31);
    demo::RangeFiles files;
    files.add("/f.bin", content);
    demo::HttpServer server([&](const HttpRequest& req) {
        if (!isProbe(req))
            return files.respond(req);
        HttpRequest plain = req;
        std::erase_if(plain.headers, [](const auto& h) { return h.first == "Range"; });
        return files.respond(plain);
    });
    DownloadRequest r = request("/f.bin", 4);
    r.url = server.base() + "/f.bin";
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->mode, DownloadMode::Ranges);
    EXPECT_TRUE(readFile(target()) == content);
}

TEST_F(DownloaderTest, CutRangesResumeWhereTheyStopped) {
    const std::string content = randomContent(400000, 4);
    server_.add("/f.bin", content);
    RangeFaults faults;
    faults.cutAfter = 1000;
    faults.cutReplies = 3; // the probe and the first two ranges
    server_.setFaults(faults);
    DownloadRequest r = request("/f.bin", 4);
    r.minRangeBytes = 100000; // no range is large enough to be shared
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->mode, DownloadMode::Ranges);
    EXPECT_TRUE(readFile(target()) == content);
    // Two replies were cut, so two requests resume a range, each from the byte after the 1000
    // that the cut request before it delivered, reaching back into those to compare them. (Which
    // requests were cut depends on the order in which they reached the server: a retry can
    // overtake another worker's first request.)
    auto ranged = rangeRequests();
    ASSERT_EQ(ranged.size(), 6u);
    const std::set<std::uint64_t> planned = {0, 100000, 200000, 300000};
    std::set<std::uint64_t> askedFrom;
    int resumed = 0;
    for (const auto& r : ranged) {
        const std::string range = r.header("Range");
        ASSERT_TRUE(range.starts_with("bytes=")) << range;
        const std::uint64_t first = std::stoull(range.substr(6));
        // A planned range whose neighbour was complete first reaches back into it, at most 4 KiB,
        // to compare.
        const auto start = planned.lower_bound(first);
        if (start == planned.end() || *start - first > 4096) {
            ++resumed;
            const auto before = askedFrom.lower_bound(first);
            EXPECT_TRUE(before != askedFrom.begin() && first - *std::prev(before) < 1000) << range;
        } else {
            askedFrom.insert(first);
        }
    }
    EXPECT_EQ(resumed, 2);
}

TEST_F(DownloaderTest, RangesCutOverAndOverStillCompleteWhileTheyProgress) {
    const std::string content = randomContent(1 << 20, 5);
    server_.add("/f.bin", content);
    RangeFaults faults;
    faults.cutAfter = 100 * 1024;
    faults.cutReplies = -1;
    server_.setFaults(faults);
    auto result = Downloader(request("/f.bin", 4)).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);
}

TEST_F(DownloaderTest, ConnectionThatNeverRecoversFailsAndKeepsTheExistingTarget) {
    demo::RangeFiles files;
    files.add("/f.bin", randomContent(50000, 6));
    // The probe is answered; every range is cut before its first byte.
    demo::HttpServer server([&](const HttpRequest& req) {
        HttpResponse response = files.respond(req);
        if (req.hasHeader("Range"))
            response.cutAfter = 0;
        return response;
    });
    writeFile(target(), "the previous version");
    DownloadRequest r = request("/f.bin", 4);
    r.url = server.base() + "/f.bin";
    r.maxRetries = 3;
    r.giveUpAfter = std::chrono::milliseconds(1000);
    Downloader downloader(r);
    auto result = downloader.run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("重试"), std::string::npos) << result.error().message;
    EXPECT_EQ(downloader.progress().snapshot().state, DownloadState::Failed);
    EXPECT_GE(server.requests().size(), 1u + 4u);
    EXPECT_EQ(readFile(target()), "the previous version");
    EXPECT_TRUE(strayFiles().empty()); // not a byte arrived: nothing worth keeping
}

TEST_F(DownloaderTest, BusyServerIsAskedAgainAndAMissingFileIsNot) {
    const std::string content = randomContent(20000, 8);
    int busyLeft = 2;
    std::mutex mutex;
    demo::RangeFiles files;
    files.add("/f.bin", content);
    demo::HttpServer server([&](const HttpRequest& req) {
        if (req.path == "/gone")
            return HttpResponse::text("gone", "text/plain", 404);
        if (req.hasHeader("If-Range")) {
            std::lock_guard lock(mutex);
            if (busyLeft > 0) {
                --busyLeft;
                return HttpResponse::text("busy", "text/plain", 503);
            }
        }
        return files.respond(req);
    });
    DownloadRequest r = request("/f.bin", 2);
    r.url = server.base() + "/f.bin";
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);

    files.add("/gone", content);
    r.url = server.base() + "/gone";
    fs::remove(target());
    result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("404"), std::string::npos) << result.error().message;
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, RangesGivenUpAreTakenOverWhileTheDownloadProgresses) {
    // Like a server that allows one connection: every range but the first is refused, for as
    // many requests as the other seven workers make before they give up.
    const std::string content = randomContent(80000, 14);
    demo::RangeFiles files;
    files.add("/f.bin", content);
    std::mutex mutex;
    int refusalsLeft = 7 * 4;
    demo::HttpServer server([&](const HttpRequest& req) {
        const std::string range = req.header("Range");
        if (!range.empty() && !range.starts_with("bytes=0-")) {
            std::lock_guard lock(mutex);
            if (refusalsLeft != 0) {
                refusalsLeft -= refusalsLeft > 0 ? 1 : 0;
                return HttpResponse::text("busy", "text/plain", 503);
            }
        }
        return files.respond(req);
    });
    DownloadRequest r = request("/f.bin", 8);
    r.url = server.base() + "/f.bin";
    r.maxRetries = 3;
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);

    // Refused for good: the first range arrives, the rest never do; it is kept for later.
    {
        std::lock_guard lock(mutex);
        refusalsLeft = -1;
    }
    fs::remove(target());
    r.giveUpAfter = std::chrono::milliseconds(1000);
    result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("503"), std::string::npos) << result.error().message;
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_EQ(strayFiles().size(), 2u);
}

TEST_F(DownloaderTest, RedirectIsFollowedOnceAndTheRangesGoWhereItLed) {
    const std::string content = randomContent(65536, 12);
    demo::RangeFiles files;
    files.add("/real/f.bin", content);
    demo::HttpServer server([&](const HttpRequest& req) {
        if (req.path == "/short") {
            HttpResponse moved = HttpResponse::text("", "text/plain", 302);
            moved.headers.emplace_back("Location", "/real/f.bin");
            return moved;
        }
        return files.respond(req);
    });
    DownloadRequest r = request("/short", 4);
    r.url = server.base() + "/short";
    r.minRangeBytes = 16384; // no range is large enough to be shared
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);
    int redirected = 0;
    for (const auto& req : server.requests())
        redirected += req.path == "/short";
    EXPECT_EQ(redirected, 1);
    const auto requests = server.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const HttpRequest& req) { return req.hasHeader("If-Range"); }),
              4);
}

TEST_F(DownloaderTest, BodyWithoutLengthIsOneStreamUntilItEnds) {
    const std::string content = randomContent(777777, 9);
    server_.add("/f.bin", content);
    RangeFaults faults;
    faults.noContentLength = true;
    faults.ignoreRanges = true;
    server_.setFaults(faults);
    Downloader downloader(request("/f.bin", 8));
    auto result = downloader.run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->mode, DownloadMode::Stream);
    EXPECT_EQ(result->bytes, content.size());
    EXPECT_TRUE(readFile(target()) == content);
    EXPECT_TRUE(rangeRequests().empty());
    // The stream asks libcurl to decode, yet only our own Accept-Encoding line goes out.
    for (const auto& r : server_.http().requests()) {
        EXPECT_EQ(std::count_if(r.headers.begin(), r.headers.end(),
                                [](const auto& h) { return h.first == "Accept-Encoding"; }),
                  1);
        EXPECT_EQ(r.header("Accept-Encoding"), "gzip, deflate");
    }
    auto progress = downloader.progress().snapshot();
    EXPECT_TRUE(progress.totalKnown);
    EXPECT_EQ(progress.total, content.size());
}

TEST_F(DownloaderTest, CodedBodiesAreDecodedNeverSavedAsTheyCame) {
    // Compressible content, so the coded body is clearly not the file.
    std::string content;
    for (int i = 0; i < 20000; ++i)
        content += "line " + std::to_string(i) + "\n";
    server_.add("/f.txt", content);
    for (const char* coding : {"gzip", "deflate"}) {
        SCOPED_TRACE(coding);
        RangeFaults faults;
        faults.contentCoding = coding;
        server_.setFaults(faults);
        auto result = Downloader(request("/f.txt", 8)).run();
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_EQ(result->mode, DownloadMode::Stream);
        EXPECT_EQ(result->bytes, content.size());
        EXPECT_TRUE(readFile(target()) == content);
    }
}

TEST_F(DownloaderTest, CodedRangeRepliesAreNeverWrittenIntoTheFile) {
    const std::string content = randomContent(200000, 13);
    demo::RangeFiles files;
    files.add("/f.bin", content);
    // Whole-file replies are plain; range replies come gzip-coded.
    demo::HttpServer server([&](const HttpRequest& req) {
        HttpResponse response = files.respond(req);
        if (response.status == 206) {
            response.body = demo::encodeContent(response.body, "gzip");
            response.headers.emplace_back("Content-Encoding", "gzip");
        }
        return response;
    });
    DownloadRequest r = request("/f.bin", 4);
    r.url = server.base() + "/f.bin";
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->mode, DownloadMode::Stream);
    EXPECT_TRUE(readFile(target()) == content);
}

TEST_F(DownloaderTest, UndecodableBodyFailsClearly) {
    demo::HttpServer server([](const HttpRequest&) {
        HttpResponse r = HttpResponse::text("this is not gzip at all", "application/octet-stream");
        r.headers.emplace_back("Content-Encoding", "gzip");
        return r;
    });
    DownloadRequest r = request("/f");
    r.url = server.base() + "/f";
    auto result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("解码"), std::string::npos) << result.error().message;
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, MissingFileFailsWithTheStatus) {
    RangeFaults faults;
    faults.notFound = true;
    server_.setFaults(faults);
    writeFile(target(), "keep me");
    Downloader downloader(request("/f.bin"));
    auto result = downloader.run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("404"), std::string::npos) << result.error().message;
    EXPECT_EQ(readFile(target()), "keep me");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, CancelStopsEveryWorkerPromptlyAndLeavesNothing) {
    server_.add("/slow.bin", randomContent(4 << 20, 10));
    RangeFaults faults;
    faults.throttleBytes = 4096;
    faults.throttleDelay = std::chrono::milliseconds(10);
    server_.setFaults(faults);
    writeFile(target(), "the previous version");
    Downloader downloader(request("/slow.bin", 4));
    Result<download::DownloadResult> result = makeError("not run");
    std::thread runner([&] { result = downloader.run(); });
    while (downloader.progress().snapshot().arrived < 50000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto asked = std::chrono::steady_clock::now();
    downloader.cancel();
    runner.join();
    // A generous bound: the point is that the workers do not go on to the end of the file.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
    ASSERT_FALSE(result);
    EXPECT_EQ(downloader.progress().snapshot().state, DownloadState::Cancelled);
    EXPECT_LT(downloader.progress().snapshot().arrived, 4u << 20);
    EXPECT_EQ(readFile(target()), "the previous version");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, BadTargetsAndDeadServersFailBeforeAnythingIsWritten) {
    server_.add("/f.bin", "abc");
    DownloadRequest missingFolder = request("/f.bin");
    missingFolder.target = (dir_ / "no-such-folder" / "f.bin").string();
    auto result = Downloader(missingFolder).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("不存在"), std::string::npos) << result.error().message;
    EXPECT_TRUE(server_.http().requests().empty());

    DownloadRequest folderTarget = request("/f.bin");
    folderTarget.target = dir_.string();
    result = Downloader(folderTarget).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("文件夹"), std::string::npos) << result.error().message;

    std::string deadBase;
    {
        demo::HttpServer dead([](const HttpRequest&) { return HttpResponse::text(""); });
        deadBase = dead.base();
    }
    DownloadRequest refused = request("/f.bin");
    refused.url = deadBase + "/f.bin";
    result = Downloader(refused).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("无法连接"), std::string::npos) << result.error().message;

    DownloadRequest notHttp = request("/f.bin");
    notHttp.url = "file:///etc/passwd";
    result = Downloader(notHttp).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("不是 http/https 地址"), std::string::npos)
        << result.error().message;
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, SpaceThatCannotBeReservedFailsBeforeAnyRangeIsAsked) {
    server_.add("/big.bin", randomContent(3 << 20, 11));
    writeFile(target(), "keep me");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto result = Downloader(request("/big.bin")).run();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("预留空间"), std::string::npos) << result.error().message;
    EXPECT_TRUE(rangeRequests().empty());
    EXPECT_EQ(readFile(target()), "keep me");
    EXPECT_TRUE(strayFiles().empty());
}

} // namespace

TEST_F(DownloaderTest, VersionChangeStartsOverOnceAndTheFileIsOneVersionWhole) {
    const std::string v1 = randomContent(1 << 20, 21), v2 = randomContent(1 << 20, 22);
    demo::RangeFiles files;
    files.add("/f.bin", v1);
    std::mutex mutex;
    int served = 0;
    // Whether the file changes just before the n-th request is answered.
    std::function<bool(int)> changesAt = [](int n) { return n == 4; };
    demo::HttpServer server([&](const HttpRequest& req) {
        {
            std::lock_guard lock(mutex);
            ++served;
            if (changesAt(served))
                files.add("/f.bin", served % 2 ? v1 : v2);
        }
        return files.respond(req);
    });
    DownloadRequest r = request("/f.bin", 4);
    r.url = server.base() + "/f.bin";
    r.minRangeBytes = 64 * 1024;
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == v2);

    // A file that keeps changing: one restart, then a clear failure; the old target stays.
    writeFile(target(), "the previous version");
    {
        std::lock_guard lock(mutex);
        served = 0;
        changesAt = [](int n) { return n % 3 == 0; };
    }
    result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("更换"), std::string::npos) << result.error().message;
    EXPECT_EQ(readFile(target()), "the previous version");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, AFileReplacedOnAServerWithoutValidatorsEndsAsTheNewFileWholeNeverMixed) {
    const std::string v1 = randomContent(4 << 20, 23);
    // Another build of the same length, every byte different; then one a byte longer.
    std::string sameLength = v1;
    for (char& c : sameLength)
        c = static_cast<char>(~c);
    for (const std::string& v2 : {sameLength, randomContent((4 << 20) + 1, 24)}) {
        demo::RangeFiles files;
        files.add("/f.bin", v1);
        RangeFaults faults;
        faults.noValidators = true;
        files.setFaults(faults);
        std::atomic<bool> replaced{false};
        // Replaced once 40 % of the file has been sent.
        demo::HttpServer server([&](const HttpRequest& req) {
            if (!replaced && files.bodyBytesSent() >= v1.size() / 5 * 2 && !replaced.exchange(true))
                files.add("/f.bin", v2);
            return files.respond(req);
        });
        DownloadRequest r = request("/f.bin", 4);
        r.url = server.base() + "/f.bin";
        r.minRangeBytes = 64 * 1024;
        Downloader downloader(r);
        auto result = downloader.run();
        ASSERT_TRUE(replaced);
        if (result) {
            EXPECT_TRUE(readFile(target()) == v2) << "the file is not the new version whole";
            const auto notices = downloader.progress().snapshot().notices;
            EXPECT_TRUE(std::any_of(notices.begin(), notices.end(), [](const std::string& n) {
                return n.find("已重新下载") != std::string::npos;
            }));
        } else {
            EXPECT_NE(result.error().message.find("更换"), std::string::npos)
                << result.error().message;
            EXPECT_FALSE(fs::exists(target()));
        }
        EXPECT_TRUE(strayFiles().empty());
        fs::remove(target());
    }
}

TEST_F(DownloaderTest, CutOrUnframedRepliesNeverReplaceTheTarget) {
    for (const char* raw :
         {"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc",
          "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde"}) {
        SCOPED_TRACE(raw);
        demo::HttpServer server([raw](const HttpRequest&) {
            HttpResponse response;
            response.raw = raw;
            return response;
        });
        writeFile(target(), "the previous version");
        DownloadRequest r = request("/f.bin");
        r.url = server.base() + "/f.bin";
        auto result = Downloader(r).run();
        ASSERT_FALSE(result);
        EXPECT_EQ(readFile(target()), "the previous version");
        EXPECT_TRUE(strayFiles().empty());
    }
}

TEST_F(DownloaderTest, TrickleEndsTheDownloadButASteadySlowLinkCompletes) {
    DownloadRequest r = request("/f.bin", 2);
    r.speedFloor = 1024;
    r.floorTime = std::chrono::milliseconds(1000);
    r.giveUpAfter = std::chrono::milliseconds(2500);
    r.maxRetries = 1000; // only the floor can end it

    // 20 KB/s on one connection: above the floor all the way.
    const std::string content = randomContent(50'000, 25);
    server_.add("/f.bin", content);
    RangeFaults steady;
    steady.throttleBytes = 2000;
    steady.throttleDelay = std::chrono::milliseconds(100);
    server_.setFaults(steady);
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);

    // One byte every 100 ms per connection.
    writeFile(target(), "the previous version");
    RangeFaults trickle;
    trickle.throttleBytes = 1;
    trickle.throttleDelay = std::chrono::milliseconds(100);
    server_.setFaults(trickle);
    result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("速度过低"), std::string::npos) << result.error().message;
    EXPECT_EQ(readFile(target()), "the previous version");
    EXPECT_EQ(strayFiles().size(), 2u); // what trickled in is kept for the next run
}

// Bytes this process has dirtied in the page cache so far: a page cleaned by an early write to
// disk and dirtied again counts twice (0 where the folder's file system keeps no such count).
std::uint64_t bytesDirtied() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "write_bytes:")
            return value;
    return 0;
}

TEST_F(DownloaderTest, ASlowDownloadPutsEachPageOnTheDiskOnce) {
    // About 100 KB/s a connection, a thousand bytes at a time: a page fills over several of
    // the early writes' ticks.
    const std::string content = randomContent(96 << 10, 31);
    server_.add("/f.bin", content);
    RangeFaults slow;
    slow.throttleBytes = 1000;
    slow.throttleDelay = std::chrono::milliseconds(10);
    server_.setFaults(slow);
    const std::uint64_t before = bytesDirtied();
    auto result = Downloader(request("/f.bin", 2)).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);
    EXPECT_LE(bytesDirtied() - before, content.size() + (64 << 10));
}

TEST_F(DownloaderTest, LengthBeyondTheFreeSpaceFailsAtOnceAndReservesNothing) {
    server_.add("/f.bin", randomContent(2 << 20, 26));
    writeFile(target(), "keep me");
    DownloadRequest r = request("/f.bin");
    r.freeSpace = [](const std::string&) { return std::optional<std::uint64_t>(1 << 20); };
    auto result = Downloader(r).run();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("磁盘空间不足"), std::string::npos)
        << result.error().message;
    EXPECT_TRUE(rangeRequests().empty());
    EXPECT_EQ(readFile(target()), "keep me");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, ThreeDownloadsIntoRoomForTwoGiveTwoFilesAndOneDiskFullBeforeItsFirstByte) {
    const std::string content = randomContent(1 << 20, 29);
    server_.add("/f.bin", content);
    // A disk with room for two of the files, less what the folder's files hold. It looks once
    // all three have asked (or after a while, when only one may ask at a time) and answers
    // late, so each would find the room that the others are about to take.
    const std::uint64_t room = 2 * content.size() + (256 << 10);
    std::atomic<int> asking = 0;
    const auto freeSpace = [this, room, &asking](const std::string&) {
        ++asking;
        for (int i = 0; i < 30 && asking < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::uint64_t used = 0;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            struct stat info {};
            if (::lstat(entry.path().c_str(), &info) == 0)
                used += static_cast<std::uint64_t>(info.st_blocks) * 512;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return std::optional<std::uint64_t>(room - std::min(room, used));
    };
    const std::array<std::string, 3> names = {"a.bin", "b.bin", "c.bin"};
    std::array<std::string, 3> errors;
    std::array<std::uint64_t, 3> arrived{};
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < names.size(); ++i)
        threads.emplace_back([&, i] {
            DownloadRequest r = request("/f.bin");
            r.target = (dir_ / names[i]).string();
            r.freeSpace = freeSpace;
            Downloader downloader(r);
            auto result = downloader.run();
            errors[i] = result ? "" : result.error().message;
            arrived[i] = downloader.progress().snapshot().arrived;
        });
    for (auto& thread : threads)
        thread.join();
    int saved = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (errors[i].empty()) {
            ++saved;
            EXPECT_TRUE(readFile(dir_ / names[i]) == content) << names[i];
        } else {
            EXPECT_TRUE(errors[i].starts_with("磁盘空间不足")) << errors[i];
            EXPECT_EQ(arrived[i], 0u);
            EXPECT_FALSE(fs::exists(dir_ / names[i]));
        }
    }
    EXPECT_EQ(saved, 2);
}

TEST_F(DownloaderTest, InterruptedDownloadGoesOnOnlyWhileTheServerFileIsTheSame) {
    const std::string v1 = randomContent(400'000, 27), v2 = randomContent(400'000, 28);
    server_.add("/f.bin", v1);
    RangeFaults slow;
    slow.throttleBytes = 4096;
    slow.throttleDelay = std::chrono::milliseconds(10);
    DownloadRequest oneRange = request("/f.bin");
    oneRange.minRangeBytes = v1.size(); // so the bytes asked for are the bytes fetched
    auto interruptMidway = [&] {
        server_.setFaults(slow);
        DownloadRequest r = oneRange;
        r.checkpointEvery = std::chrono::milliseconds(50);
        Downloader downloader(r);
        std::thread runner([&] {
            while (downloader.progress().snapshot().arrived < 100'000)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            downloader.interrupt();
        });
        auto result = downloader.run();
        runner.join();
        ASSERT_FALSE(result);
        EXPECT_EQ(strayFiles().size(), 2u); // the part and its state
        server_.setFaults({});
    };

    interruptMidway();
    const std::size_t before = server_.http().requests().size();
    auto resumed = Downloader(oneRange).run();
    ASSERT_TRUE(resumed) << resumed.error().message;
    EXPECT_GE(resumed->resumedBytes, 100'000u);
    EXPECT_TRUE(readFile(target()) == v1);
    EXPECT_TRUE(strayFiles().empty());
    // Only the missing bytes, and the few KiB beside them each request compares.
    std::uint64_t asked = 0, ranges = 0;
    const auto requests = server_.http().requests();
    for (std::size_t i = before; i < requests.size(); ++i)
        if (const std::string range = requests[i].header("Range");
            !range.empty() && requests[i].hasHeader("If-Range")) {
            asked +=
                std::stoull(range.substr(range.find('-') + 1)) - std::stoull(range.substr(6)) + 1;
            ++ranges;
        }
    EXPECT_GE(asked, v1.size() - resumed->resumedBytes);
    EXPECT_LE(asked, v1.size() - resumed->resumedBytes + ranges * 2 * 4096);

    fs::remove(target());
    interruptMidway();
    server_.add("/f.bin", v2); // same size, another version
    auto fresh = Downloader(oneRange).run();
    ASSERT_TRUE(fresh) << fresh.error().message;
    EXPECT_EQ(fresh->resumedBytes, 0u);
    EXPECT_TRUE(readFile(target()) == v2);
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(DownloaderTest, ASlowConnectionsRangeIsTakenOverByTheFastOnes) {
    const std::string content = randomContent(4 << 20, 29);
    server_.add("/f.bin", content);
    RangeFaults faults;
    // The probe is connection 1; of the workers' connections, 3, 6, 9, ... crawl.
    faults.connectionRate = demo::connectionRates(8 << 20, 3, 128 << 10);
    server_.setFaults(faults);
    DownloadRequest r = request("/f.bin", 4);
    r.minRangeBytes = 128 << 10;
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(readFile(target()) == content);

    // A slow connection kept only what it fetched before its rest was handed on: at 128 KiB/s
    // its quarter of the file alone would have taken eight seconds.
    ASSERT_TRUE(server_.http().idle());
    const std::vector<std::uint64_t> sent = server_.bytesSentPerConnection();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), 1u); // the probe asks for one byte, not the whole file
    std::uint64_t total = 0;
    std::uint64_t slow = 0;
    for (std::size_t ordinal = 2; ordinal <= sent.size(); ++ordinal) {
        total += sent[ordinal - 1];
        if (ordinal % 3 == 0) {
            ++slow;
            EXPECT_LT(sent[ordinal - 1], content.size() / 16) << "connection " << ordinal;
        }
    }
    // The split ranges tile the file: every byte came once, but for the few KiB each request and
    // the closing proof compare, and the few on the way to a slow connection whose reply was cut
    // to hand its rest on (as it is when a busy machine made its request ask for the whole range
    // at once).
    EXPECT_GE(total, content.size());
    EXPECT_LE(total, content.size() + content.size() / 50 + slow * (16 << 10));
}

TEST_F(DownloaderTest, RepliesThatStartLateDoNotMakeRequestsLong) {
    // A server that holds a connection's later replies back (as one that limits its connections
    // does once it has sent on them) is not far away: the first reply on each connection comes at
    // once, and the connections still ask for about 150 ms of their speed at a time, so that what
    // they have asked for can be taken over.
    // A busy machine can hold back the probe's reply (the first on a new connection) past the
    // 17 ms that mark a far server; then every request asks for its whole range by design, and
    // the download is tried again. Once the probe's reply came in time, no request may be long.
    const std::string content = randomContent(2 << 20, 32);
    demo::RangeFiles files;
    files.add("/f.bin", content);
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::mutex mutex;
        std::set<std::size_t> answered;
        demo::HttpServer server([&](const HttpRequest& req) {
            HttpResponse response = files.respond(req);
            const std::lock_guard lock(mutex);
            if (!answered.insert(req.connection).second)
                response.delayBeforeHead = std::chrono::milliseconds(50);
            response.bytesPerSecond = 1 << 20;
            return response;
        });
        DownloadRequest r = request("/f.bin", 2);
        r.url = server.base() + "/f.bin";
        r.minRangeBytes = 128 << 10;
        fs::remove(target());
        auto result = Downloader(r).run();
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_TRUE(readFile(target()) == content);
        std::vector<std::pair<std::string, std::uint64_t>> asked;
        for (const auto& req : server.requests()) {
            if (isProbe(req))
                continue;
            const std::string range = req.header("Range");
            asked.emplace_back(range, std::stoull(range.substr(range.find('-') + 1)) -
                                          std::stoull(range.substr(6)) + 1);
        }
        ASSERT_FALSE(asked.empty());
        if (asked.front().second > (256u << 10))
            continue; // the probe's reply came late: each first request asks for its whole range
        for (const auto& [range, size] : asked)
            EXPECT_LE(size, 256u << 10) << range;
        return;
    }
    ADD_FAILURE() << "the probe's reply came late in every download";
}

TEST_F(DownloaderTest, EachWorkerKeepsItsConnectionFromRangeToRange) {
    // A part whose every other 64 KiB is already there: eight holes for two workers.
    const std::string content = randomContent(1 << 20, 30);
    server_.add("/f.bin", content);
    net::TransportRequest ask;
    ask.method = net::HttpMethod::Head;
    ask.url = server_.url("/f.bin");
    auto head = net::perform(ask);
    ASSERT_TRUE(head);
    download::ResumeState state;
    state.url = server_.url("/f.bin");
    state.finalUrl = state.url;
    state.length = content.size();
    state.validators = {net::headerValue(head->headers, "ETag"),
                        net::headerValue(head->headers, "Last-Modified")};
    std::string part(content.size(), '\0');
    for (std::uint64_t at = 0; at < content.size(); at += 128 << 10) {
        state.complete.push_back({at, at + (64 << 10)});
        part.replace(at, 64 << 10, content, at, 64 << 10);
    }
    writeFile(dir_ / ".target.bin.vantorel-part", part);
    ASSERT_TRUE(download::saveResumeState((dir_ / ".target.bin.vantorel-state").string(), state));
    const std::size_t connectionsBefore = server_.connectionCount();

    DownloadRequest r = request("/f.bin", 2);
    r.minRangeBytes = 64 << 10; // no hole is large enough to be shared
    auto result = Downloader(r).run();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->resumedBytes, content.size() / 2);
    EXPECT_TRUE(readFile(target()) == content);
    EXPECT_EQ(rangeRequests().size(), 8u);
    // The probe's connection and at most one per worker (a busy machine may let one worker
    // fetch every hole before the other starts).
    EXPECT_LE(server_.connectionCount() - connectionsBefore, 1u + 2u);
}
