// One file from several sources: mirrors used at once, a mirror of other bytes never mixed in,
// sources that die, a share link whose signed address expires, and an address replaced over a
// part another address left.

#include "demo/RangeServer.h"
#include "download/DownloadJob.h"
#include "download/PartFile.h"

#include "support/ExpiringShare.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace vantorel;
using namespace vantorel::download;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using vantorel::testing::randomContent;
using vantorel::testing::readFile;

namespace {

class SourcesTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = vantorel::testing::freshTestFolder("vantorel-sources"); }
    void TearDown() override { fs::remove_all(folder_); }

    std::string target() const { return (folder_ / "setup.exe").string(); }

    static JobOptions quick(std::vector<std::string> labels = {}) {
        JobOptions options;
        options.retryDelay = milliseconds(20);
        options.labels = std::move(labels);
        return options;
    }

    static demo::RangeFaults capped(double bytesPerSecond) {
        demo::RangeFaults faults;
        faults.totalRate = bytesPerSecond;
        return faults;
    }

    static bool noticed(const JobView& view, const std::string& text) {
        return std::any_of(view.progress.notices.begin(), view.progress.notices.end(),
                           [&](const std::string& n) { return n.find(text) != std::string::npos; });
    }

    fs::path folder_;
};

// Stops `job` for a later run once a part of the file has arrived.
void interruptMidway(DownloadJob& job, std::uint64_t after) {
    job.start();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (job.view().progress.arrived < after && !job.view().finished() && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    job.interrupt();
    while (!job.view().finished())
        std::this_thread::sleep_for(milliseconds(5));
}

} // namespace

TEST_F(SourcesTest, TwoMirrorsCappedInTotalFinishInUnderTwoThirdsOfTheTimeOfOne) {
    const std::string file = randomContent(3 << 20, 1);
    demo::RangeServer one, two;
    for (demo::RangeServer* server : {&one, &two}) {
        server->add("/setup.exe", file);
        server->setFaults(capped(1 << 20));
    }
    const auto timed = [&](std::vector<std::string> addresses) {
        fs::remove(target());
        const auto started = Clock::now();
        const JobView view = DownloadJob(std::move(addresses), target(), quick()).run();
        EXPECT_EQ(view.phase, JobPhase::Done) << view.error;
        EXPECT_TRUE(readFile(target()) == file);
        return std::chrono::duration<double>(Clock::now() - started).count();
    };
    const double alone = timed({one.url("/setup.exe")});
    ASSERT_TRUE(one.http().idle());
    const std::uint64_t fromOne = one.files().bodyBytesSent();
    const double together = timed({one.url("/setup.exe"), two.url("/setup.exe")});
    ASSERT_TRUE(one.http().idle() && two.http().idle());
    EXPECT_LE(together, 0.65 * alone) << together << " s with both, " << alone << " s with one";
    EXPECT_GT(two.files().bodyBytesSent(), file.size() / 4);
    EXPECT_GT(one.files().bodyBytesSent() - fromOne, file.size() / 4);
}

TEST_F(SourcesTest, AMirrorOfOtherBytesOfTheSameLengthIsDroppedAndNeverMixed) {
    const std::string file = randomContent(2 << 20, 2);
    std::string other = file;
    other[other.size() / 2] ^= 1; // another build: one byte in the middle differs
    demo::RangeServer one, two;
    one.add("/setup.exe", file);
    one.setFaults(capped(2 << 20));
    two.add("/setup.exe", other);
    const JobView view = DownloadJob({one.url("/setup.exe"), two.url("/setup.exe")}, target(),
                                     quick({"下载链接1", "下载链接2"}))
                             .run();
    ASSERT_EQ(view.phase, JobPhase::Done) << view.error;
    EXPECT_TRUE(readFile(target()) == file);
    EXPECT_TRUE(noticed(view, "下载链接2 的文件与下载链接1 不同，已只用下载链接1"))
        << (view.progress.notices.empty() ? "" : view.progress.notices.front());
}

TEST_F(SourcesTest, AMirrorThatChangesWithoutValidatorsAfterProvingItselfIsDroppedAndNamed) {
    const std::string file = randomContent(4 << 20, 5);
    std::string other = file;
    for (char& c : other)
        c = static_cast<char>(~c);
    demo::RangeFaults bare = capped(2 << 20);
    bare.noValidators = true;
    demo::RangeServer one;
    one.add("/setup.exe", file);
    one.setFaults(bare);
    demo::RangeFiles mirrorFiles;
    mirrorFiles.add("/setup.exe", file);
    mirrorFiles.setFaults(bare);
    std::atomic<bool> changed{false};
    // The mirror proves itself, then serves another file once it has sent an eighth of it.
    demo::HttpServer mirror([&](const demo::HttpRequest& req) {
        if (mirrorFiles.bodyBytesSent() >= file.size() / 8 && !changed.exchange(true))
            mirrorFiles.add("/setup.exe", other);
        return mirrorFiles.respond(req);
    });
    const JobView view = DownloadJob({one.url("/setup.exe"), mirror.base() + "/setup.exe"},
                                     target(), quick({"下载链接1", "镜像1"}))
                             .run();
    ASSERT_TRUE(changed);
    ASSERT_EQ(view.phase, JobPhase::Done) << view.error;
    EXPECT_TRUE(readFile(target()) == file) << "bytes of the mirror's new file were kept";
    const auto& notices = view.progress.notices;
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(), [](const std::string& n) {
        return n.starts_with("镜像1 ") && n.ends_with("，已只用下载链接1");
    })) << (notices.empty() ? "" : notices.front());
}

TEST_F(SourcesTest, AMirrorDyingMidwayOrADeadFirstAddressStillFinish) {
    const std::string file = randomContent(2 << 20, 3);
    demo::RangeServer one, two;
    one.add("/setup.exe", file);
    two.add("/setup.exe", file);
    for (const int dying : {0, 410}) {
        fs::remove(target());
        demo::RangeFaults dies = capped(2 << 20);
        dies.goneAfterBytes = file.size() / 4;
        dies.goneStatus = dying;
        two.setFaults(dies);
        one.setFaults(capped(2 << 20));
        const JobView view =
            DownloadJob({one.url("/setup.exe"), two.url("/setup.exe")}, target(), quick()).run();
        ASSERT_EQ(view.phase, JobPhase::Done) << dying << ": " << view.error;
        EXPECT_TRUE(readFile(target()) == file);
    }
    fs::remove(target());
    two.setFaults({});
    const JobView view =
        DownloadJob({one.url("/missing.exe"), two.url("/setup.exe")}, target(), quick()).run();
    ASSERT_EQ(view.phase, JobPhase::Done) << view.error;
    EXPECT_TRUE(readFile(target()) == file);
}

TEST_F(SourcesTest, AnExpiringShareLinkIsRefreshedAndFetchesLittleTwice) {
    const std::string file = randomContent(3 << 20, 4);
    for (const auto answer : {demo::ExpiredAnswer::Forbidden, demo::ExpiredAnswer::WebPage}) {
        fs::remove(target());
        vantorel::testing::ExpiringShare::Options options;
        options.lifetime = milliseconds(800);
        options.expired = answer;
        options.faults = capped(1 << 20);
        vantorel::testing::ExpiringShare share(file, options);
        const JobView view = DownloadJob({share.link()}, target(), quick()).run();
        ASSERT_EQ(view.phase, JobPhase::Done) << view.error;
        EXPECT_TRUE(readFile(target()) == file);
        EXPECT_GE(share.resolutions(), 3u);
        ASSERT_TRUE(share.http().idle());
        EXPECT_LT(static_cast<double>(share.bytesServed()),
                  1.15 * static_cast<double>(file.size()));
    }
}

TEST_F(SourcesTest, AReplacedAddressGoesOnFromThePartOnlyWhenItServesTheSameBytes) {
    const std::string file = randomContent(2 << 20, 5);
    std::string other = file;
    other[0] ^= 1;
    demo::RangeServer old, same, different, shorter;
    old.add("/setup.exe", file);
    old.setFaults(capped(1 << 20));
    same.add("/setup.exe", file);
    different.add("/setup.exe", other);
    shorter.add("/setup.exe", file.substr(0, file.size() / 2));
    const auto leavePart = [&] {
        DownloadJob first({old.url("/setup.exe")}, target(), quick());
        interruptMidway(first, file.size() / 3);
        ASSERT_TRUE(fs::exists(PartFile::statePathFor(target())));
    };

    leavePart();
    JobOptions refuse = quick();
    refuse.startOverIfDifferent = false;
    for (demo::RangeServer* server : {&different, &shorter}) {
        const JobView refused = DownloadJob({server->url("/setup.exe")}, target(), refuse).run();
        EXPECT_EQ(refused.phase, JobPhase::Failed);
        EXPECT_NE(refused.error.find("的文件与已下载的部分不同"), std::string::npos)
            << refused.error;
        EXPECT_FALSE(fs::exists(target()));
        EXPECT_TRUE(fs::exists(PartFile::statePathFor(target()))) << "the part is left as it was";
    }

    const JobView resumed = DownloadJob({same.url("/setup.exe")}, target(), quick()).run();
    ASSERT_EQ(resumed.phase, JobPhase::Done) << resumed.error;
    EXPECT_GT(resumed.progress.resumed, 0u);
    EXPECT_TRUE(readFile(target()) == file);

    fs::remove(target());
    leavePart();
    const JobView restarted = DownloadJob({different.url("/setup.exe")}, target(), quick()).run();
    ASSERT_EQ(restarted.phase, JobPhase::Done) << restarted.error;
    EXPECT_EQ(restarted.progress.resumed, 0u);
    EXPECT_TRUE(readFile(target()) == other);
}

// A mirror that trickles once it has proven itself (its first two connections, the probe's and
// the proof's, are fast) beside a fast address: its connections hand their requests over to the
// fast address's idle ones and move on, so the download ends (within a generous deadline rather
// than never) with next to nothing of the file from the trickler.
TEST_F(SourcesTest, ATricklingMirrorHandsItsRangesToTheFastAddress) {
    const std::string file = randomContent(8 << 20, 6);
    demo::RangeServer fast, trickle;
    fast.add("/setup.exe", file);
    fast.setFaults(capped(4 << 20));
    trickle.add("/setup.exe", file);
    demo::RangeFaults trickling;
    trickling.connectionRate = [](std::size_t connection) { return connection > 2 ? 4096.0 : 0; };
    trickle.setFaults(trickling);
    DownloadJob job({fast.url("/setup.exe"), trickle.url("/setup.exe")}, target(), quick());
    job.start();
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!job.view().finished() && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
    const bool ended = job.view().finished();
    job.interrupt();
    while (!job.view().finished())
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_TRUE(ended) << job.view().progress.arrived << " of " << file.size() << " bytes";
    ASSERT_EQ(job.view().phase, JobPhase::Done) << job.view().error;
    EXPECT_TRUE(readFile(target()) == file);
    const std::vector<std::uint64_t> sent = trickle.bytesSentPerConnection();
    ASSERT_GT(sent.size(), 2u) << "the mirror took part";
    std::uint64_t trickled = 0;
    for (std::size_t c = 2; c < sent.size(); ++c)
        trickled += sent[c];
    EXPECT_LT(trickled, file.size() / 64);
}
