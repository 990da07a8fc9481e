// The download list: how many run at once, pause and resume from the part, and the list that
// survives a restart.

#include "download/DownloadQueue.h"
#include "demo/RangeServer.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

using namespace vantorel;
using namespace vantorel::download;
namespace fs = std::filesystem;

using vantorel::testing::randomContent;
using vantorel::testing::readFile;

namespace {

class DownloadQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vantorel::testing::freshTestFolder("vantorel-queue");
        for (int i = 0; i < 4; ++i) {
            contents_.push_back(randomContent(256 << 10, static_cast<unsigned>(i)));
            server_.add("/f" + std::to_string(i) + ".bin", contents_.back());
        }
    }
    void TearDown() override { fs::remove_all(dir_); }

    QueueOptions options(unsigned maxRunning) const {
        QueueOptions o;
        o.maxRunning = maxRunning;
        o.listFile = (dir_ / "list" / "downloads.json").string();
        o.job.workers = 2;
        o.job.retryDelay = std::chrono::milliseconds(2);
        return o;
    }
    QueueEntry entry(int i) const {
        const std::string name = "f" + std::to_string(i) + ".bin";
        return {name, {server_.url("/" + name)}, (dir_ / name).string()};
    }
    // Slows every reply to about 160 KiB/s a connection.
    void slow() {
        demo::RangeFaults faults;
        faults.throttleBytes = 16 << 10;
        faults.throttleDelay = std::chrono::milliseconds(100);
        server_.setFaults(faults);
    }
    // Refreshes until `done` says so (or ten seconds pass); the last views.
    template <class Done> std::vector<QueueItem> until(DownloadQueue& queue, Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<QueueItem> items = queue.refresh();
        while (!done(items) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            items = queue.refresh();
        }
        return items;
    }
    static bool allDone(const std::vector<QueueItem>& items) {
        return std::all_of(items.begin(), items.end(),
                           [](const QueueItem& i) { return i.state == QueueState::Done; });
    }

    fs::path dir_;
    std::vector<std::string> contents_;
    mutable demo::RangeServer server_;
};

TEST_F(DownloadQueueTest, NoMoreRunAtOnceThanAllowedAndTheRestWaitInOrder) {
    slow();
    DownloadQueue queue(options(2));
    for (int i = 0; i < 4; ++i)
        queue.add(entry(i));
    EXPECT_EQ(queue.add(entry(1)), queue.refresh()[1].id); // the same target is one download
    std::size_t mostRunning = 0;
    const auto items = until(queue, [&](const std::vector<QueueItem>& now) {
        const auto running = std::count_if(now.begin(), now.end(), [](const QueueItem& i) {
            return i.state == QueueState::Downloading || i.state == QueueState::Retrying;
        });
        mostRunning = std::max<std::size_t>(mostRunning, static_cast<std::size_t>(running));
        // In order: nothing starts before every earlier one has.
        const auto waiting = std::find_if(now.begin(), now.end(), [](const QueueItem& i) {
            return i.state == QueueState::Waiting;
        });
        EXPECT_TRUE(std::all_of(waiting, now.end(),
                                [](const QueueItem& i) { return i.state == QueueState::Waiting; }));
        return allDone(now);
    });
    ASSERT_EQ(items.size(), 4u);
    EXPECT_TRUE(allDone(items));
    EXPECT_EQ(mostRunning, 2u);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(readFile(dir_ / ("f" + std::to_string(i) + ".bin")) == contents_[i]);
}

TEST_F(DownloadQueueTest, PausedDownloadKeepsItsPartAndResumesFetchingOnlyWhatIsMissing) {
    slow();
    DownloadQueue queue(options(1));
    const std::uint64_t id = queue.add(entry(0));
    until(queue, [](const auto& now) { return now[0].bytes >= 64u << 10; });
    queue.pause(id);
    auto items = until(queue, [](const auto& now) { return now[0].state == QueueState::Paused; });
    ASSERT_EQ(items[0].state, QueueState::Paused);
    // Wait for its job to let go of the part, then look.
    until(queue, [&](const auto&) { return fs::exists(dir_ / ".f0.bin.vantorel-state"); });
    EXPECT_TRUE(fs::exists(dir_ / ".f0.bin.vantorel-part"));

    server_.setFaults({});
    ASSERT_TRUE(queue.resume(id));
    items = until(queue, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_TRUE(readFile(dir_ / "f0.bin") == contents_[0]);
    const auto sent = server_.bytesSentPerConnection();
    // Every byte once, give or take what was on the way when it paused.
    EXPECT_LT(std::accumulate(sent.begin(), sent.end(), std::uint64_t{0}),
              contents_[0].size() + (64u << 10));
}

TEST_F(DownloadQueueTest, TheListSurvivesARestartWithUnfinishedDownloadsPaused) {
    {
        DownloadQueue queue(options(1));
        queue.add(entry(0));
        ASSERT_TRUE(allDone(until(queue, allDone)));
        slow();
        queue.add(entry(1));
        until(queue, [](const auto& now) { return now[1].bytes > 0; });
    } // closing pauses the running one
    server_.setFaults({});
    DownloadQueue again(options(1));
    auto items = again.refresh();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].state, QueueState::Done);
    EXPECT_EQ(items[0].entry.target, (dir_ / "f0.bin").string());
    EXPECT_EQ(items[1].state, QueueState::Paused);
    EXPECT_EQ(items[1].entry.name, "f1.bin");
    ASSERT_TRUE(again.resume(items[1].id));
    items = until(again, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_TRUE(readFile(dir_ / "f1.bin") == contents_[1]);

    again.remove(items[0].id);
    EXPECT_EQ(DownloadQueue(options(1)).refresh().size(), 1u);
}

// A row's checksum goes to its download and is kept in the list; a list written before rows
// had one still loads.
TEST_F(DownloadQueueTest, ARowsChecksumHoldsItsDownloadAndSurvivesARestart) {
    const fs::path list = options(1).listFile;
    fs::create_directories(list.parent_path());
    std::ofstream(list)
        << R"({"downloads": [{"name": "old.bin", "target": ")" + (dir_ / "old.bin").string() +
               R"(", "addresses": ["http://127.0.0.1:9/old.bin"], "state": "paused"}]})";
    const Checksum wrong = *parseChecksum("md5=" + std::string(32, '0'));
    {
        DownloadQueue queue(options(1));
        QueueEntry held = entry(0);
        held.checksum = wrong;
        queue.add(held);
        const auto items = until(queue, [](const auto& now) {
            return now.size() == 2 && now[1].state == QueueState::Failed;
        });
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[1].errorKind, FailureKind::ChecksumMismatch) << items[1].error;
        EXPECT_FALSE(fs::exists(dir_ / "f0.bin"));
    }
    const auto items = DownloadQueue(options(1)).refresh();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].entry.name, "old.bin");
    EXPECT_FALSE(items[0].entry.checksum);
    EXPECT_EQ(items[1].entry.checksum, wrong);
}

TEST_F(DownloadQueueTest, AListFileThatCannotBeReadIsKeptAsideAndNeverWrittenOver) {
    const fs::path list = options(1).listFile;
    fs::create_directories(list.parent_path());
    const auto write = [&](const std::string& text) { std::ofstream(list) << text; };
    const auto keptAside = [&] {
        std::vector<std::string> kept;
        for (const auto& file : fs::directory_iterator(list.parent_path()))
            if (file.path().filename().string().starts_with("downloads.json.broken-"))
                kept.push_back(readFile(file.path()));
        return kept;
    };
    // A hand edit left a stray comma: the file is kept as it was, and a later save goes to
    // the list's own name.
    const std::string handEdited =
        R"({"downloads":[{"name":"a","target":"/tmp/a","addresses":["http://h/a"],"state":"paused"},]})";
    write(handEdited);
    {
        DownloadQueue queue(options(1));
        EXPECT_NE(queue.loadNotice().find("downloads.json.broken-"), std::string::npos)
            << queue.loadNotice();
        queue.add(entry(0));
    }
    EXPECT_EQ(keptAside(), std::vector<std::string>{handEdited});
    EXPECT_EQ(DownloadQueue(options(1)).refresh().size(), 1u);
    // Another broken list in the same second gets a name of its own.
    write(R"({"downloads":{}})");
    EXPECT_TRUE(DownloadQueue(options(1)).refresh().empty());
    EXPECT_EQ(keptAside().size(), 2u);
    // A link at the list's name is moved aside, never followed: what it points to stays.
    const fs::path elsewhere = dir_ / "elsewhere.json";
    std::ofstream(elsewhere) << "mine";
    fs::remove(list);
    fs::create_symlink(elsewhere, list);
    {
        DownloadQueue queue(options(1));
        EXPECT_FALSE(queue.loadNotice().empty());
        queue.add(entry(1));
    }
    EXPECT_EQ(readFile(elsewhere), "mine");
    EXPECT_FALSE(fs::is_symlink(list));
    EXPECT_EQ(keptAside().size(), 3u);
    // The rows that can be read go on; the file is kept for the one that cannot.
    const std::string oneBad = R"({"downloads":[{"name":"g","target":")" +
                               (dir_ / "g.bin").string() +
                               R"(","addresses":["http://h/g"],"state":"paused"},{"name":1}]})";
    write(oneBad);
    {
        DownloadQueue queue(options(1));
        EXPECT_EQ(queue.refresh().size(), 1u);
        EXPECT_FALSE(queue.loadNotice().empty());
    }
    EXPECT_EQ(keptAside().size(), 4u);
    EXPECT_EQ(DownloadQueue(options(1)).refresh().size(), 1u);
}

TEST_F(DownloadQueueTest, GoingOnNeverReplacesAFileTheDownloadDidNotSave) {
    slow();
    DownloadQueue queue(options(1));
    const std::uint64_t id = queue.add(entry(0));
    until(queue, [](const auto& now) { return now[0].bytes >= 64u << 10; });
    queue.pause(id);
    // The state is written from the first bytes on: the pause has taken effect once nothing runs.
    until(queue, [&](const auto&) {
        return queue.active() == 0 && fs::exists(dir_ / ".f0.bin.vantorel-state");
    });
    ASSERT_EQ(queue.active(), 0u);
    std::ofstream(dir_ / "f0.bin") << "notes";

    Status refused = queue.resume(id);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, FailureKind::ForeignTarget);
    queue.add(entry(0)); // the same target added again is refused alike, and says why
    auto items = queue.refresh();
    EXPECT_EQ(items[0].state, QueueState::Paused);
    EXPECT_NE(items[0].error.find("不会覆盖"), std::string::npos) << items[0].error;

    // Saved beside it instead, it goes on from its part there.
    server_.setFaults({});
    ASSERT_TRUE(queue.moveTo(id, (dir_ / "f0 (1).bin").string()));
    ASSERT_TRUE(queue.resume(id));
    items = until(queue, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_GT(items[0].resumed, 0u);
    EXPECT_TRUE(readFile(dir_ / "f0 (1).bin") == contents_[0]);
    EXPECT_EQ(readFile(dir_ / "f0.bin"), "notes");

    // A finished download may fetch over its own file, also after a restart; not over a file
    // put in its place.
    queue.add(entry(1));
    ASSERT_TRUE(allDone(until(queue, allDone)));
    DownloadQueue again(options(1));
    again.add(entry(1));
    ASSERT_TRUE(allDone(until(again, allDone)));
    EXPECT_TRUE(again.refresh()[1].error.empty());
    std::ofstream(dir_ / "f1.bin") << "mine";
    again.add(entry(1));
    items = again.refresh();
    EXPECT_EQ(items[1].state, QueueState::Done);
    EXPECT_NE(items[1].error.find("不会覆盖"), std::string::npos);
    EXPECT_EQ(readFile(dir_ / "f1.bin"), "mine");
}

TEST_F(DownloadQueueTest, CancelledAndFailedRowsSayWhatHappenedAndKeepWhatTheyKnew) {
    slow();
    DownloadQueue queue(options(2));
    const std::uint64_t cancelled = queue.add(entry(0));
    const std::uint64_t failing = queue.add(entry(1));
    until(queue, [](const auto& now) { return now[0].bytes > 0 && now[1].bytes > 0; });
    queue.cancel(cancelled);
    queue.pause(failing);
    auto items = until(queue, [](const auto& now) {
        return now[0].state == QueueState::Cancelled && now[1].state == QueueState::Paused;
    });
    EXPECT_EQ(queueStatusText(items[0]), "已取消");
    EXPECT_TRUE(items[0].error.empty()) << "a cancel is not a failure";
    // Resumed against a server that now has nothing: it fails before it learns anything new.
    demo::RangeFaults gone;
    gone.notFound = true;
    server_.setFaults(gone);
    EXPECT_TRUE(queue.resume(failing));
    items = until(queue, [](const auto& now) { return now[1].state == QueueState::Failed; });
    for (const QueueItem& item : items) {
        EXPECT_TRUE(item.totalKnown) << item.entry.name;
        EXPECT_EQ(item.total, 256u << 10) << item.entry.name;
        EXPECT_GT(item.bytes, 0u) << item.entry.name;
        EXPECT_EQ(item.percent, static_cast<int>(item.bytes * 100 / item.total)) << item.entry.name;
    }
    EXPECT_EQ(queueStatusText(items[1]), "失败");
    // A cancelled row goes on under another name as a paused one does.
    const std::string elsewhere = (dir_ / "elsewhere.bin").string();
    EXPECT_TRUE(queue.moveTo(cancelled, elsewhere));
    EXPECT_EQ(queue.refresh()[0].entry.target, elsewhere);
    // The list remembers a cancel as a cancel.
    EXPECT_EQ(DownloadQueue(options(1)).refresh()[0].state, QueueState::Cancelled);
}

TEST_F(DownloadQueueTest, AStoppedRowTakesAnotherAddressOrStartsOverAndKeepsItsSources) {
    DownloadQueue queue(options(1));
    QueueEntry dead = entry(0);
    std::string withPassword = server_.url("/gone.bin");
    withPassword.insert(withPassword.find("://") + 3, "user:secret@");
    dead.addresses = {withPassword};
    dead.labels = {"下载链接1"};
    dead.catalogueId = "0123456789ABCDEF";
    const std::uint64_t id = queue.add(dead);
    auto items = until(queue, [](const auto& now) { return now[0].state == QueueState::Failed; });
    ASSERT_EQ(items[0].state, QueueState::Failed);
    dead.addresses = {server_.url("/gone.bin")};
    EXPECT_EQ(DownloadQueue(options(1)).refresh()[0].entry, dead)
        << "labels and ID are kept, the password is not";

    // The user's address replaces the entry's sources and the row goes on with it.
    ASSERT_TRUE(queue.replaceAddress(id, entry(0).addresses[0]));
    items = until(queue, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_EQ(items[0].entry.addresses, entry(0).addresses);
    EXPECT_TRUE(items[0].entry.labels.empty());
    EXPECT_TRUE(items[0].entry.catalogueId.empty()) << "no longer renewed from the catalogue";
    EXPECT_TRUE(readFile(dir_ / "f0.bin") == contents_[0]);
    EXPECT_FALSE(queue.replaceAddress(id, entry(1).addresses[0])) << "a finished row keeps its own";
    EXPECT_FALSE(queue.startOver(id));

    // Starting over drops the part: nothing of it is taken up again.
    slow();
    const std::uint64_t paused = queue.add(entry(1));
    until(queue, [](const auto& now) { return now[1].bytes >= 64u << 10; });
    queue.pause(paused);
    until(queue, [&](const auto&) { return queue.active() == 0; }); // its part let go of
    ASSERT_TRUE(fs::exists(dir_ / ".f1.bin.vantorel-part"));
    server_.setFaults({});
    ASSERT_TRUE(queue.startOver(paused));
    items = until(queue, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_EQ(items[1].resumed, 0u);
    EXPECT_TRUE(readFile(dir_ / "f1.bin") == contents_[1]);
}

// An address the user gave that serves another file leaves the part and asks; until the user
// takes it, the list file keeps the row as it was, and keeping the part brings that row back.
TEST_F(DownloadQueueTest, AnAddressOfAnotherFileIsNotTheRowsUntilTheUserTakesIt) {
    slow();
    DownloadQueue queue(options(1));
    const std::uint64_t id = queue.add(entry(0));
    until(queue, [](const auto& now) { return now[0].bytes >= 64u << 10; });
    queue.pause(id);
    until(queue, [&](const auto&) { return fs::exists(dir_ / ".f0.bin.vantorel-state"); });
    until(queue, [&](const auto&) { return queue.active() == 0; });
    const QueueItem before = queue.refresh()[0];
    server_.setFaults({});

    ASSERT_TRUE(queue.replaceAddress(id, entry(1).addresses[0]));
    auto items = until(queue, [](const auto& now) { return now[0].newAddressDiffers; });
    ASSERT_TRUE(items[0].newAddressDiffers) << items[0].error;
    EXPECT_EQ(items[0].errorKind, FailureKind::NotSameFile);
    const QueueItem saved = DownloadQueue(options(1)).refresh()[0];
    EXPECT_EQ(saved.entry, before.entry);
    EXPECT_EQ(saved.state, QueueState::Paused);

    ASSERT_TRUE(queue.keepFormerAddress(id));
    EXPECT_FALSE(queue.keepFormerAddress(id)) << "nothing left to decide";
    const QueueItem kept = queue.refresh()[0];
    EXPECT_EQ(kept.entry, before.entry);
    EXPECT_EQ(kept.state, QueueState::Paused);
    EXPECT_EQ(kept.bytes, before.bytes);
    ASSERT_TRUE(queue.resume(id));
    items = until(queue, allDone);
    ASSERT_TRUE(allDone(items));
    EXPECT_GT(items[0].resumed, 0u);
    EXPECT_TRUE(readFile(dir_ / "f0.bin") == contents_[0]);
}

TEST_F(DownloadQueueTest, ListenersHearEveryChangeWithoutAskingAndTheJobsOwnHookStillRuns) {
    std::mutex mutex;
    std::condition_variable heard;
    std::map<std::uint64_t, QueueState> last;
    std::size_t changes = 0;
    QueueOptions o = options(1);
    std::atomic<int> hooked = 0;
    o.job.onEnded = [&] { ++hooked; };
    DownloadQueue queue(o);
    queue.listen([&](const QueueChange& change) {
        std::lock_guard lock(mutex);
        ++changes;
        if (change.removed)
            last.erase(change.item.id);
        else
            last[change.item.id] = change.item.state;
        heard.notify_all();
    });
    const std::uint64_t first = queue.add(entry(0));
    const std::uint64_t second = queue.add(entry(1));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(heard.wait_for(lock, std::chrono::seconds(20), [&] {
        return last[first] == QueueState::Done && last[second] == QueueState::Done;
    }));
    // The hook runs on each job's thread as it ends, maybe just after the queue noticed.
    for (int i = 0; i < 1000 && hooked.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(hooked.load(), 2);
    const std::size_t before = changes;
    lock.unlock();
    queue.remove(first);
    lock.lock();
    ASSERT_TRUE(
        heard.wait_for(lock, std::chrono::seconds(20), [&] { return !last.contains(first); }));
    EXPECT_EQ(changes, before + 1) << "only the removed row changed";
}

// Two downloads under one limit of 100 KiB/s hold it together, and a new rate reaches them at
// once. Only bytes are counted against the time that passed: a slow machine can only bring
// fewer.
TEST_F(DownloadQueueTest, OneSpeedLimitHoldsForAllDownloadsAndChangesWhileTheyRun) {
    constexpr std::uint64_t kRate = 100 << 10;
    const std::string big = randomContent(4 << 20, 9);
    server_.add("/big0.bin", big);
    server_.add("/big1.bin", big);
    QueueOptions o = options(2);
    o.job.limit = std::make_shared<SpeedLimit>(kRate);
    DownloadQueue queue(o);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 2; ++i) {
        const std::string name = "big" + std::to_string(i) + ".bin";
        queue.add({name, {server_.url("/" + name)}, (dir_ / name).string()});
    }
    bool limitedShown = false;
    std::vector<QueueItem> items;
    while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(2500)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        items = queue.refresh();
        for (const QueueItem& item : items) {
            EXPECT_NE(item.state, QueueState::Retrying) << "held by our limit is not a stall";
            limitedShown = limitedShown || queueStatusText(item) == "已限速";
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::uint64_t together = items[0].bytes + items[1].bytes;
    EXPECT_LE(static_cast<double>(together), kRate * seconds + (64 << 10));
    EXPECT_GT(items[0].bytes, 0u);
    EXPECT_GT(items[1].bytes, 0u);
    EXPECT_TRUE(limitedShown);

    // Lifted: the 8 MiB left would take over a minute at the old rate.
    o.job.limit->setRate(0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!allDone(items) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        items = queue.refresh();
    }
    ASSERT_TRUE(allDone(items));
    EXPECT_TRUE(readFile(dir_ / "big0.bin") == big);
    EXPECT_TRUE(readFile(dir_ / "big1.bin") == big);
}

} // namespace
