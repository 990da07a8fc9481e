#include "download/Metalink.h"

#include <gtest/gtest.h>

using namespace vantorel::download;

// What a document says of a file: addresses by priority (http(s) only), the strongest digest,
// the pieces; elements of other namespaces are passed over.
TEST(Metalink, ReadsAFileAsTheDocumentDescribesIt) {
    const std::string md5(32, 'a');
    const std::string sha256(64, 'b');
    const auto files = parseMetalink(R"(<?xml version="1.0"?>
<metalink xmlns="urn:ietf:params:xml:ns:metalink" xmlns:x="urn:example:other">
  <x:file name="../ignored"><url>http://other/</url></x:file>
  <file name="iso/disc.iso">
    <size>5</size>
    <hash type="md5">)" + md5 + R"(</hash>
    <hash type="sha-256">)" + sha256 +
                                     R"(</hash>
    <hash type="sha3-256">zz</hash>
    <pieces length="4" type="sha-1"><hash>)" +
                                     std::string(40, 'c') + "</hash><hash>" + std::string(40, 'd') +
                                     R"(</hash></pieces>
    <url priority="20">https://two.example/disc.iso</url>
    <url>http://last.example/disc.iso</url>
    <url priority="10">http://one.example/disc.iso</url>
    <url priority="1">ftp://ftp.example/disc.iso</url>
    <x:url>http://not.ours/</x:url>
  </file>
</metalink>)");
    ASSERT_TRUE(files) << files.error().message;
    ASSERT_EQ(files->size(), 1u);
    const MetalinkFile& file = files->front();
    EXPECT_EQ(file.name, "iso/disc.iso");
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.urls, (std::vector<std::string>{"http://one.example/disc.iso",
                                                   "https://two.example/disc.iso",
                                                   "http://last.example/disc.iso"}));
    EXPECT_EQ(file.checksum, (Checksum{DigestType::Sha256, sha256}));
    ASSERT_TRUE(file.pieces);
    EXPECT_EQ(file.pieces->type, DigestType::Sha1);
    EXPECT_EQ(file.pieces->length, 4u);
    EXPECT_EQ(file.pieces->hex.size(), 2u);
}
