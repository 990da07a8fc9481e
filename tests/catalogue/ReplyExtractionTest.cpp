#include "catalogue/ReplyExtraction.h"
#include "demo/CatalogueReply.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace vantorel;
using catalogue::CatalogueRecord;
using catalogue::extractRecords;

namespace {

CatalogueRecord record(int i) {
    std::string n = std::to_string(i);
    return {"程序" + n,
            "setup" + n + ".exe",
            std::to_string(1048576 * i + 7),
            "H" + n,
            "https://dl.example/a/" + n + ".exe",
            "2026-01-0" + std::to_string(i % 9 + 1),
            "1." + n,
            "https://mirror.example/b/" + n + ".exe",
            "logo" + n + ".png"};
}

std::vector<CatalogueRecord> extract(const std::string& reply) {
    auto result = extractRecords(reply);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
    return result.ok() ? *result : std::vector<CatalogueRecord>{};
}

} // namespace

TEST(ReplyExtraction, ThirtyEntriesComeBackWholeAndInReplyOrder) {
    std::vector<CatalogueRecord> records;
    for (int i = 1; i <= 30; ++i)
        records.push_back(record(i));
    EXPECT_EQ(extract(demo::catalogueReply(records)), records);
}

TEST(ReplyExtraction, EmptyOrEntrylessRepliesGiveNothing) {
    EXPECT_TRUE(extract("").empty());
    EXPECT_TRUE(extract("searchCallback({\"retCode\":0,\"count\":0})").empty());
    std::string partial = demo::catalogueEntry(record(1));
    partial.resize(partial.find("<logo48>"));
    EXPECT_TRUE(extract(partial).empty());
}

TEST(ReplyExtraction, NameSpanningTwoLinesKeepsItsLineBreak) {
    CatalogueRecord r = record(1);
    r.displayname = "第一行\r\n第二行";
    EXPECT_EQ(extract(demo::catalogueEntry(r)).at(0).displayname, "第一行\r\n第二行");
}

TEST(ReplyExtraction, WhiteSpaceAroundCdataIsSkippedWhereThePatternAllows) {
    std::string reply = demo::catalogueEntry(record(1));
    auto insert = [&](const std::string& after, const std::string& what) {
        reply.insert(reply.find(after) + after.size(), what);
    };
    insert("<displayname>", " \n\t");
    insert("<url>", "\r\n ");
    insert("<https>", "  ");
    reply.replace(reply.find("]]></https>"), 11, "]]>\n </https>");
    EXPECT_EQ(extract(reply), std::vector<CatalogueRecord>{record(1)});
}

TEST(ReplyExtraction, EntryWithoutAnAddressIsJoinedWithTheNextEntry) {
    for (std::string badUrl : {std::string("not an address"), std::string("ftp:/missing-slash"),
                               std::string("https://has space.example/x")}) {
        CatalogueRecord first = record(1);
        first.url = badUrl;
        std::vector<CatalogueRecord> reply = {first, record(2), record(3)};
        auto got = extract(demo::catalogueReply(reply));
        ASSERT_EQ(got.size(), 2u) << badUrl;
        // Fields up to the hash come from the broken entry, the rest from the entry after it.
        EXPECT_EQ(got[0].displayname, "程序1");
        EXPECT_EQ(got[0].hash, "H1");
        EXPECT_EQ(got[0].url, record(2).url);
        EXPECT_EQ(got[0].logo48, record(2).logo48);
        EXPECT_EQ(got[1], record(3));
    }
}

TEST(ReplyExtraction, SchemeClassAdmitsTheCharactersBetweenUpperAndLowerCase) {
    CatalogueRecord r = record(1);
    r.url = "a_b[^]`://odd.example/x";
    EXPECT_EQ(extract(demo::catalogueEntry(r)).at(0).url, r.url);
}

TEST(ReplyExtraction, EntryMissingATagTakesTheRestFromTheNextEntry) {
    std::string first = demo::catalogueEntry(record(1));
    first.erase(first.find("  <versionname>"),
                first.find("</versionname>\n") + 15 - first.find("  <versionname>"));
    auto got = extract(first + demo::catalogueEntry(record(2)));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].publishdate, record(1).publishdate);
    EXPECT_EQ(got[0].versionname, record(2).versionname);
    EXPECT_EQ(got[0].https, record(2).https);
}

TEST(ReplyExtraction, ValueBrokenByALineFeedJoinsTheNextEntryButCarriageReturnIsKept) {
    CatalogueRecord broken = record(1);
    broken.filesize = "12\n34";
    auto got = extract(demo::catalogueEntry(broken) + demo::catalogueEntry(record(2)));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].displayname, "程序1");
    EXPECT_EQ(got[0].filesize, record(2).filesize);

    CatalogueRecord cr = record(1);
    cr.hash = "AB\rCD";
    EXPECT_EQ(extract(demo::catalogueEntry(cr)).at(0).hash, "AB\rCD");
}

TEST(ReplyExtraction, AddressWithoutWhiteSpaceAfterItSwallowsTheFollowingTags) {
    std::string reply = demo::catalogueEntry(record(1));
    // Remove the line break after the url's closing tag: the address runs on to the next
    // white space and backs up to the last CDATA end before it.
    reply.replace(reply.find("</url>\n  <publishdate>"), 22, "</url><publishdate>");
    auto got = extract(reply);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].url, record(1).url);
    std::string glued = demo::catalogueEntry(record(1));
    glued.replace(glued.find("]]></url>\n  <publishdate>"), 25,
                  "]]></url><x><![CDATA[y]]><publishdate>");
    auto swallowed = extract(glued);
    ASSERT_EQ(swallowed.size(), 1u);
    EXPECT_EQ(swallowed[0].url, record(1).url + "]]></url><x><![CDATA[y");
}

TEST(ReplyExtraction, CraftedBacktrackingReplyEndsWithAResultOrAnError) {
    // Many opening tags and no closing ones make the lazy gaps retry every position.
    std::string reply;
    for (int i = 0; i < 3000; ++i)
        reply +=
            "<displayname><![CDATA[x]]></displayname><filename>a</filename><filesize>1</filesize>"
            "<hash>h</hash><url><![CDATA[http://a]]>";
    auto start = std::chrono::steady_clock::now();
    auto result = extractRecords(reply);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0); // generous: the point is that it ends
    if (result.ok())
        EXPECT_TRUE(result->empty());
    else
        EXPECT_FALSE(result.error().message.empty());
}
