// vantorel-cli download with metalink documents, against loopback servers.

#include "demo/HttpServer.h"
#include "demo/RangeServer.h"
#include "download/Checksum.h"
#include "download/Metalink.h"
#include "support/RunCommand.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vantorel;
using vantorel::testing::readFile;
using vantorel::testing::runCli;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPiece = 64 << 10;

std::string sha256(std::string_view bytes) {
    download::Hasher hasher(download::DigestType::Sha256);
    hasher.update(bytes);
    return hasher.finishHex();
}

struct Source {
    std::string url;
    int priority = 1;
};

// A document of one file: its size, its sha-256 (`whole`), its pieces' sha-256 when `pieces`.
std::string documentOf(const std::string& name, const std::string& content,
                       const std::vector<Source>& sources, const std::string& whole,
                       bool pieces = false) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<metalink xmlns=\"urn:ietf:params:xml:ns:metalink\">\n"
                      "  <file name=\"" +
                      name + "\">\n    <size>" + std::to_string(content.size()) +
                      "</size>\n    <hash type=\"sha-256\">" + whole + "</hash>\n";
    if (pieces) {
        xml += "    <pieces length=\"" + std::to_string(kPiece) + "\" type=\"sha-256\">\n";
        for (std::size_t at = 0; at < content.size(); at += kPiece)
            xml +=
                "      <hash>" + sha256(std::string_view(content).substr(at, kPiece)) + "</hash>\n";
        xml += "    </pieces>\n";
    }
    for (const Source& source : sources)
        xml += "    <url priority=\"" + std::to_string(source.priority) + "\">" + source.url +
               "</url>\n";
    return xml + "  </file>\n</metalink>\n";
}

class MetalinkCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vantorel::testing::freshTestFolder("vantorel-cli-metalink");
        out_ = dir_ / "out";
        fs::create_directory(out_);
        content_ = vantorel::testing::randomContent(1 << 20, 11);
        server_.add("/a/app.bin", content_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::string& document) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << document;
        return path;
    }
    bool outEmpty() const { return fs::is_empty(out_); }

    fs::path dir_;
    fs::path out_;
    std::string content_;
    demo::RangeServer server_;
};

// The mirror passes the proof (its blocks there are true) but lies in one piece: the piece
// fails its digest, comes again from the true address, and the mirror is dropped and named.
TEST_F(MetalinkCommandTest, PieceFromALyingMirrorIsFetchedAgainAndTheMirrorDropped) {
    std::string lie = content_;
    const std::size_t piece = 4; // no proof block of a 1 MiB file lies in it
    lie[piece * kPiece + 100] ^= 0x5a;
    demo::RangeServer mirror;
    mirror.add("/b/app.bin", lie);
    // The true address is slow, so the mirror brings most of the file, the piece among it.
    demo::RangeFaults slow;
    slow.totalRate = 128 << 10;
    server_.setFaults(slow);
    const fs::path document = write(
        "app.meta4", documentOf("app.bin", content_,
                                {{mirror.url("/b/app.bin"), 2}, {server_.url("/a/app.bin"), 1}},
                                sha256(content_), true));

    auto r = runCli({"download", document.string(), "-d", out_.string(), "--threads", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(out_ / "app.bin") == content_);
    EXPECT_NE(r.err.find(mirror.url("/b/app.bin") + " 发送的数据（第 5 块）未通过校验"),
              std::string::npos)
        << r.err;
}

TEST_F(MetalinkCommandTest, FileWithoutItsDigestIsNotSaved) {
    const fs::path document = write(
        "app.meta4", documentOf("app.bin", content_, {{server_.url("/a/app.bin")}}, sha256("x")));
    auto r = runCli({"download", "-q", document.string(), "-d", out_.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("文件校验失败"), std::string::npos) << r.err;
    EXPECT_TRUE(outEmpty());
}

TEST_F(MetalinkCommandTest, DoctypesAndNamesLeadingOutsideAreRefusedBeforeAnyRequest) {
    const std::string good =
        documentOf("app.bin", content_, {{server_.url("/a/app.bin")}}, sha256(content_));
    std::string entities = good;
    entities.insert(good.find("<metalink"), "<!DOCTYPE metalink [<!ENTITY a \"aaaaaaaaaa\">"
                                            "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {entities, "DOCTYPE"},
        {documentOf("../app.bin", content_, {{server_.url("/a/app.bin")}}, sha256(content_)),
         "不安全"},
        {documentOf("/tmp/app.bin", content_, {{server_.url("/a/app.bin")}}, sha256(content_)),
         "不安全"},
        {std::string(download::kMaxMetalinkBytes + 1, ' '), "超过"}};
    for (const auto& [document, why] : cases) {
        auto r = runCli({"download", write("bad.meta4", document).string(), "-d", out_.string()});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    }
    // A link already in the folder is not followed either.
    fs::create_directory_symlink(dir_, out_ / "sub");
    auto linked =
        runCli({"download",
                write("link.meta4", documentOf("sub/app.bin", content_,
                                               {{server_.url("/a/app.bin")}}, sha256(content_)))
                    .string(),
                "-d", out_.string()});
    EXPECT_EQ(linked.exitCode, 1) << linked.err;
    EXPECT_NE(linked.err.find("链接"), std::string::npos) << linked.err;
    fs::remove(out_ / "sub");
    // -o names one file: a document of several is bad usage.
    const std::size_t file = good.find("  <file");
    std::string other = good.substr(file, good.find("</metalink>") - file);
    other.replace(other.find("app.bin"), 7, "other.bin"); // the name; the address stays
    std::string two = good;
    two.insert(file, other);
    auto output =
        runCli({"download", write("two.meta4", two).string(), "-o", (out_ / "x.bin").string()});
    EXPECT_EQ(output.exitCode, 2) << output.err;
    EXPECT_TRUE(outEmpty());
    EXPECT_FALSE(fs::exists(dir_ / "app.bin"));
    EXPECT_TRUE(server_.http().requests().empty());
}

TEST_F(MetalinkCommandTest, AddressServingADocumentIsFollowed) {
    const std::string document =
        documentOf("sub/app.bin", content_, {{server_.url("/a/app.bin")}}, sha256(content_), true);
    demo::HttpServer list([&](const demo::HttpRequest&) {
        return demo::HttpResponse::text(document, "application/metalink4+xml");
    });
    auto r = runCli({"download", "-q", list.base() + "/get?id=7", "-d", out_.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(out_ / "sub" / "app.bin") == content_);
}

} // namespace
