#include "download/Checksum.h"
#include "download/SourceLedger.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vantorel::download;
namespace fs = std::filesystem;

namespace {

// "abc" under each digest (FIPS 180 and RFC 1321 test vectors).
constexpr const char* kSha256Abc =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(ChecksumTest, TakesTheFormsUsersWriteAndRefusesMalformedOnes) {
    auto parsed = parseChecksum(std::string("SHA256=") + "BA7816BF8F01CFEA414140DE5DAE2223B00361A3"
                                                         "96177A9CB410FF61F20015AD");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->type, DigestType::Sha256);
    EXPECT_EQ(checksumText(*parsed), std::string("sha-256=") + kSha256Abc);
    EXPECT_TRUE(parseChecksum("md5=900150983cd24fb0d6963f7d28e17f72"));
    for (const char* bad : {"sha-256", "sha-256=", "crc32=12345678", "md5=900150983cd24fb0",
                            "md5=900150983cd24fb0d6963f7d28e17fzz", "=abc"}) {
        const auto refused = parseChecksum(bad);
        ASSERT_FALSE(refused) << bad;
        EXPECT_NE(refused.error().message.find(bad), std::string::npos) << bad;
    }
}

TEST(ChecksumTest, AFileIsHeldToItsDigestAndAMismatchGivesBoth) {
    const fs::path dir = vantorel::testing::freshTestFolder("vantorel-checksum");
    const std::string path = (dir / "abc").string();
    std::ofstream(path) << "abc";
    EXPECT_TRUE(verifyFile(path, *parseChecksum(std::string("sha-256=") + kSha256Abc)));
    EXPECT_EQ(*digestOfFile(path, DigestType::Sha1, 1, 1),
              "e9d71f5ee7c92d6dc9e92ffdad17b8bd49418f98"); // "b"
    const auto wrong = verifyFile(path, *parseChecksum("md5=00000000000000000000000000000000"));
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().kind, vantorel::FailureKind::ChecksumMismatch);
    EXPECT_NE(wrong.error().message.find("md5=900150983cd24fb0d6963f7d28e17f72"),
              std::string::npos);
    EXPECT_FALSE(digestOfFile((dir / "missing").string(), DigestType::Md5));
    fs::remove_all(dir);
}

TEST(SourceLedgerTest, NamesTheSourceOfEveryByteAndForgetsRefetchedOnes) {
    SourceLedger ledger;
    ledger.record(0, {0, 100});
    ledger.record(0, {100, 200});
    ledger.record(1, {200, 300});
    ledger.record(1, {150, 170}); // fetched again from another source
    EXPECT_EQ(ledger.sourcesOf({120, 160}), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(ledger.sourcesOf({160, 165}), (std::vector<std::size_t>{1}));
    EXPECT_EQ(ledger.sentBy(0), (std::vector<ByteInterval>{{0, 150}, {170, 200}}));
    ledger.forget({50, 250});
    EXPECT_TRUE(ledger.sourcesOf({50, 250}).empty());
    EXPECT_EQ(ledger.sentBy(1), (std::vector<ByteInterval>{{250, 300}}));
}

} // namespace
