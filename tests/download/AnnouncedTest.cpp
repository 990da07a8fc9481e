// What a server announces of its file: mirrors (Link rel=duplicate) that join the download once
// proven, and a digest that holds the file as the user's checksum does.

#include "download/Announced.h"
#include "demo/RangeServer.h"
#include "download/Downloader.h"
#include "net/Base64.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vantorel;
using namespace vantorel::download;
namespace fs = std::filesystem;

using vantorel::testing::randomContent;
using vantorel::testing::readFile;

namespace {

constexpr const char* kSha256Abc =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kSha256AbcBase64 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";

// The digest of `content` as a Digest header carries it.
std::string base64Digest(DigestType type, const std::string& content) {
    Hasher hasher(type);
    hasher.update(content);
    const std::string hex = hasher.finishHex();
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return net::base64Encode(bytes);
}

class AnnouncedTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = vantorel::testing::freshTestFolder("vantorel-announced"); }
    void TearDown() override { fs::remove_all(dir_); }

    DownloadRequest request(const std::string& url) const {
        DownloadRequest r;
        r.url = url;
        r.target = (dir_ / "f.bin").string();
        r.workers = 4;
        r.minRangeBytes = 1;
        r.retryDelay = std::chrono::milliseconds(2);
        return r;
    }

    fs::path dir_;
};

TEST(AnnouncedParsing, DuplicatesAreTheAbsoluteHttpLinksOfRelDuplicate) {
    const std::vector<std::string> links = {
        R"(<http://a.example/f.bin>; rel=duplicate; pri=1, <http://b.example/f.bin>; )"
        R"(rel="describedby Duplicate")",
        R"(<https://c.example/f,1.bin>;rel=duplicate)",
        R"(<http://d.example/meta>; rel=describedby, <ftp://e.example/f.bin>; rel=duplicate)",
        R"(<http://a.example/f.bin>; rel=duplicate)",
        R"(<http://f.example/f.bin>; title="x, \"y\"; z"; rel=duplicate)",
        R"(<http://g.example/f.bin>; rel=duplicate; rel=other, <relative/f.bin>; rel=duplicate)",
        R"(<http://h.example/f.bin>; rel=other; rel=duplicate)",
        R"(junk <http://i.example/f.bin>; rel=duplicate)",
    };
    EXPECT_EQ(duplicatesIn(links),
              (std::vector<std::string>{"http://a.example/f.bin", "http://b.example/f.bin",
                                        "https://c.example/f,1.bin", "http://f.example/f.bin",
                                        "http://g.example/f.bin"}));

    // At most a handful join, never a source the download has already, each named apart from
    // the mirrors the user gave.
    Sources sources({{"http://user:pw@a.example/f.bin", "下载地址", "", false},
                     {"http://m.example/f.bin", "镜像1", "", false}});
    std::vector<std::string> announced = {"http://a.example/f.bin", "http://m.example/f.bin"};
    for (int i = 0; i < 9; ++i)
        announced.push_back("http://n" + std::to_string(i) + ".example/f.bin");
    EXPECT_NE(addDuplicates(sources, announced).find("镜像2 http://n0.example/f.bin"),
              std::string::npos);
    ASSERT_EQ(sources.size(), 2 + kMaxDuplicates);
    EXPECT_EQ(sources.spec(2).address, "http://n0.example/f.bin");
    EXPECT_EQ(sources.name(2), "镜像2");
    EXPECT_EQ(sources.state(2), SourceState::Untried);
}

TEST(AnnouncedParsing, TheStrongestWellFormedDigestIsTaken) {
    const auto text = [](std::string_view digest, std::string_view repr) {
        const auto found = strongestDigest(digest, repr);
        return found ? checksumText(*found) : std::string("none");
    };
    const std::string sha256 = std::string("sha-256=") + kSha256Abc;
    EXPECT_EQ(text(std::string("MD5=kAFQmDzST7DWlj99KOF/cg==, SHA-256=") + kSha256AbcBase64, ""),
              sha256);
    EXPECT_EQ(text("SHA=qZk+NkcGgWq6PiVxeFDCbJzQ2J0=", ""),
              "sha-1=a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(text(std::string("sha-256=") + kSha256AbcBase64,
                   "sha-512=:3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1E"
                   "I2Q86A4qmslPpUyknw==:"),
              "sha-512=ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274"
              "fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    // A value that is not Base64, or of the wrong length, is no digest.
    EXPECT_EQ(text("SHA-512=not*base64",
                   std::string("sha-512=:AAAA:, sha-256=:") + kSha256AbcBase64 + ":;x=1"),
              sha256);
    EXPECT_EQ(text("UNIXsum=30637", "crc32c=:AAAAAA==:"), "none");
}

// A digest the server announces must hold: the strongest one counts, and a file without it is
// never saved.
TEST_F(AnnouncedTest, AnAnnouncedDigestHoldsTheFile) {
    const std::string content = randomContent(300 << 10, 3);
    demo::RangeServer server;
    server.add("/f.bin", content);
    demo::RangeFaults faults;
    faults.extraHeaders = {
        {"Repr-Digest", "sha-256=:" + base64Digest(DigestType::Sha256, content) + ":"}};
    server.setFaults(faults);
    ASSERT_TRUE(Downloader(request(server.url("/f.bin"))).run());
    EXPECT_TRUE(readFile(dir_ / "f.bin") == content);
    fs::remove(dir_ / "f.bin");

    const std::string wrong(32, 'Z'); // 0x5a
    faults.extraHeaders = {{"Digest", "MD5=" + base64Digest(DigestType::Md5, content)},
                           {"Digest", "SHA-256=" + net::base64Encode(wrong)}};
    server.setFaults(faults);
    const auto failed = Downloader(request(server.url("/f.bin"))).run();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, FailureKind::ChecksumMismatch);
    Hasher actual(DigestType::Sha256);
    actual.update(content);
    EXPECT_NE(failed.error().message.find(actual.finishHex()), std::string::npos);
    std::string wrongHex;
    for (std::size_t i = 0; i < wrong.size(); ++i)
        wrongHex += "5a";
    EXPECT_NE(failed.error().message.find(wrongHex), std::string::npos) << failed.error().message;
    EXPECT_TRUE(fs::is_empty(dir_)); // neither the file nor its part
}

TEST_F(AnnouncedTest, AMirrorTheServerNamesIsProvenAndUsed) {
    const std::string content = randomContent(2 << 20, 4);
    demo::RangeServer primary, mirror;
    primary.add("/f.bin", content);
    mirror.add("/copy.bin", content);
    demo::RangeFaults faults;
    faults.totalRate = 1 << 20; // slow enough that the mirror has its share to bring
    faults.extraHeaders = {{"Link", "<" + mirror.url("/copy.bin") + ">; rel=duplicate"}};
    primary.setFaults(faults);
    Downloader downloader(request(primary.url("/f.bin")));
    const auto done = downloader.run();
    ASSERT_TRUE(done) << done.error().message;
    // The user is told what the name in later messages stands for.
    const auto notices = downloader.progress().snapshot().notices;
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("镜像1 " + mirror.url("/copy.bin")), std::string::npos) << notices[0];
    EXPECT_TRUE(readFile(dir_ / "f.bin") == content);
    // More than a proof's blocks: it brought ranges of the file.
    EXPECT_GT(mirror.files().bodyBytesSent(), 512u << 10);
}

} // namespace
