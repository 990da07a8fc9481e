// Downloading an entry: which addresses are tried, the fallback to the second one, and what is
// left in the folder when the server sends something else than the installer.

#include "app/EntryDownload.h"
#include "common/Config.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace vantorel;
using namespace vantorel::app;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

EntryDownloadView waitFinished(const EntryDownload& download) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!download.view().finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return download.view();
}

} // namespace

TEST(EntryDownload, AddressesAreTheEntrysWebAddressesInOrder) {
    catalogue::CatalogueRecord entry;
    entry.url = "http://a/1.exe";
    entry.https = "https://b/1.exe";
    EXPECT_EQ(entryDownloadAddresses(entry),
              (std::vector<std::string>{"http://a/1.exe", "https://b/1.exe"}));
    entry.https = entry.url;
    EXPECT_EQ(entryDownloadAddresses(entry), std::vector<std::string>{"http://a/1.exe"});
    entry.url = "file:///etc/passwd";
    entry.https = "[]://odd";
    EXPECT_TRUE(entryDownloadAddresses(entry).empty());
}

TEST(EntryDownload, FallsBackToTheSecondAddressAndLeavesOnlyTheFile) {
    QTemporaryDir folder;
    demo::RangeServer server;
    const std::string installer(700'000, 'x');
    server.add("/live/setup.exe", installer);
    const std::string target = folder.filePath("setup.exe").toStdString();

    EntryDownload download({server.url("/dead/setup.exe"), server.url("/live/setup.exe")}, target);
    download.start();
    const EntryDownloadView view = waitFinished(download);
    ASSERT_EQ(view.phase, EntryPhase::Done) << view.error;
    EXPECT_EQ(view.percent, 100);
    EXPECT_EQ(view.progressText, kEntryDoneText);
    EXPECT_EQ(view.file, target);
    EXPECT_TRUE(readFile(target) == installer);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(EntryDownload, FailureKeepsAnExistingFileAndSaysWhy) {
    QTemporaryDir folder;
    demo::RangeServer server;
    server.add("/page.exe", "<!DOCTYPE html><html><body>not found</body></html>");
    const std::string target = folder.filePath("app.exe").toStdString();
    writeFile(target, "previous");

    // An error page in place of the installer, then an address that does not exist.
    EntryDownload download({server.url("/page.exe"), server.url("/missing.exe")}, target);
    download.start();
    const EntryDownloadView view = waitFinished(download);
    ASSERT_EQ(view.phase, EntryPhase::Failed);
    EXPECT_EQ(view.progressText, kEntryFailedText);
    EXPECT_FALSE(view.error.empty());
    EXPECT_EQ(readFile(target), "previous");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    EntryDownload none({}, target);
    none.start();
    EXPECT_EQ(waitFinished(none).error, kNoDownloadAddressText);
}

TEST(EntryDownload, CancelStopsAndLeavesNothing) {
    QTemporaryDir folder;
    demo::RangeServer server;
    server.add("/big.exe", std::string(4'000'000, 'b'));
    demo::RangeFaults slow;
    slow.throttleBytes = 16 * 1024;
    slow.throttleDelay = std::chrono::milliseconds(50);
    server.setFaults(slow);
    const std::string target = folder.filePath("big.exe").toStdString();

    EntryDownload download({server.url("/big.exe")}, target);
    download.start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (download.view().phase != EntryPhase::Downloading &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    download.cancel();
    EXPECT_EQ(waitFinished(download).phase, EntryPhase::Cancelled);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(EntryDownload, AShareLinkIsResolvedToItsFileFirst) {
    QTemporaryDir folder;
    demo::DemoServices services;
    services.applyToConfig();
    const std::string target = folder.filePath("shared.exe").toStdString();

    EntryDownload download({"https://share.vantorel.example/iVantorel310"}, target);
    download.start();
    const EntryDownloadView view = waitFinished(download);
    demo::DemoServices::removeFromConfig();
    ASSERT_EQ(view.phase, EntryPhase::Done) << view.error;

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
