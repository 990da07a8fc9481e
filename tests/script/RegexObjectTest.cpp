#include "script/RegexObject.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using vantorel::script::RegexObject;

namespace {

// The extraction pattern of the catalogue search reply.
constexpr const char* kCataloguePattern =
    R"(<displayname>[\s]*?<!\[CDATA\[([\s\S]*?)\]\]>[\s]*?</displayname>[\s\S]*?<filename>(.*?)</filename>[\s\S]*?<filesize>(.*?)</filesize>[\s\S]*?<hash>(.*?)</hash>[\s\S]*?<url>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s\S]*?<publishdate>(.*?)</publishdate>[\s\S]*?<versionname>(.*?)</versionname>[\s\S]*?<https>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s]*?</https>[\s\S]*?<logo48>(.*?)</logo48>)";

std::string entry(const std::string& name, const std::string& file, const std::string& url) {
    return "<item>\n<displayname> <![CDATA[" + name + "]]>\n</displayname>\n<filename>" + file +
           "</filename>\n<filesize>1048576</filesize>\n<hash>h-" + file +
           "</hash>\n<url><![CDATA[" + url + "]]></url>\n<publishdate>2024-01-02</publishdate>" +
           "<versionname>1.2.3</versionname>\n<https>\r\n<![CDATA[" + url +
           "?s=1]]>  </https><logo48>logo/" + file + ".png</logo48>\n</item>\n";
}

RegexObject compiled(const char* pattern, bool ignoreCase = false, bool multiline = false,
                     bool global = false) {
    RegexObject re;
    EXPECT_TRUE(re.create(pattern, ignoreCase, multiline, false, global)) << re.lastError().message;
    return re;
}

} // namespace

TEST(RegexObject, GlobalFindsEveryMatchInOrderWithoutOnlyTheFirst) {
    auto all = compiled("a(\\d)", false, false, true);
    ASSERT_EQ(all.execute("a1 b a2 a3"), 3);
    EXPECT_EQ(all.match_text(0), "a1");
    EXPECT_EQ(all.match_text(2), "a3");
    EXPECT_EQ(all.match_position(1), 5);
    EXPECT_EQ(all.submatch_text(1, 1), "2");
    EXPECT_EQ(all.submatch_text(1, 0), "a2");

    auto first = compiled("a(\\d)");
    ASSERT_EQ(first.execute("a1 b a2 a3"), 1);
    EXPECT_EQ(first.match_text(0), "a1");
}

TEST(RegexObject, PositionsCountUtf16CodeUnits) {
    auto re = compiled("ab", false, false, true);
    ASSERT_EQ(re.execute("中文ab😀ab"), 2);
    EXPECT_EQ(re.match_position(0), 2);
    EXPECT_EQ(re.match_position(1), 6); // the emoji is a surrogate pair: two units
    EXPECT_EQ(re.match_length(0), 2);

    auto chinese = compiled("文(.)");
    ASSERT_EQ(chinese.execute("中文字"), 1);
    EXPECT_EQ(chinese.submatch_text(0, 1), "字");
    EXPECT_EQ(chinese.match_position(0), 1);
}

TEST(RegexObject, DotExcludesOnlyLineFeedWhateverTheOptions) {
    for (bool singleline : {false, true}) {
        RegexObject re;
        ASSERT_TRUE(re.create("a.b", false, true, singleline, false));
        EXPECT_EQ(re.execute("a\nb"), 0);
        EXPECT_EQ(re.execute("a\rb"), 1);
        EXPECT_EQ(re.execute("a\xE2\x80\xA8"
                             "b"),
                  1); // U+2028 is an ordinary character here
    }
    auto any = compiled("a[\\s\\S]b");
    EXPECT_EQ(any.execute("a\nb"), 1);
    auto none = compiled("a[^]b");
    EXPECT_EQ(none.execute("a\nb"), 1);
}

TEST(RegexObject, AnchorsFollowTheMultilineOption) {
    auto plain = compiled("^x$", false, false, true);
    EXPECT_EQ(plain.execute("x\n"), 0); // "$" only at the very end
    EXPECT_EQ(plain.execute("x"), 1);

    auto lines = compiled("^(\\w+)", false, true, true);
    ASSERT_EQ(lines.execute("one\r\ntwo\nthree"), 3);
    EXPECT_EQ(lines.match_text(1), "two");
    EXPECT_EQ(lines.match_position(1), 5); // right after the line feed, not after the CR

    auto ends = compiled("\\d$", false, true, true);
    EXPECT_EQ(ends.execute("1\n2\n3"), 3);
}

TEST(RegexObject, EcmaScriptSyntax) {
    auto lazy = compiled("<(.+?)>", false, false, true);
    ASSERT_EQ(lazy.execute("<a><bc>"), 2);
    EXPECT_EQ(lazy.submatch_text(1, 1), "bc");

    auto ahead = compiled("(?:ab)+(?=c)");
    ASSERT_EQ(ahead.execute("xababc"), 1);
    EXPECT_EQ(ahead.match_text(0), "abab");
    EXPECT_EQ(ahead.submatch_count(0), 0);

    auto classes = compiled("\\d+\\s\\w+\\S", false, false, false);
    EXPECT_EQ(classes.execute("id 42\tabc_9!"), 1);
    EXPECT_EQ(classes.match_text(0), "42\tabc_9!");

    auto unicodeEscape = compiled("\\u4e2d+");
    ASSERT_EQ(unicodeEscape.execute("x中中y"), 1);
    EXPECT_EQ(unicodeEscape.match_text(0), "中中");

    // \w and \d stay ASCII; \s is ASCII white space only.
    auto word = compiled("\\w+");
    ASSERT_EQ(word.execute("中ab"), 1);
    EXPECT_EQ(word.match_text(0), "ab");
    auto space = compiled("\\s");
    EXPECT_EQ(space.execute("a\xC2\xA0"
                            "b"),
              0);
    EXPECT_EQ(space.execute("a\vb"), 1);

    auto caseless = compiled("straße", true);
    EXPECT_EQ(caseless.execute("STRAßE"), 1);
    auto caselessGreek = compiled("σ", true);
    EXPECT_EQ(caselessGreek.execute("Σ"), 1);
}

TEST(RegexObject, EmptyMatchesAdvanceOneCharacter) {
    auto re = compiled("x*", false, false, true);
    ASSERT_EQ(re.execute("axx😀"), 4);
    EXPECT_EQ(re.match_position(0), 0);
    EXPECT_EQ(re.match_text(1), "xx");
    EXPECT_EQ(re.match_position(2), 3);
    EXPECT_EQ(re.match_position(3), 5); // after the pair, never inside it
    EXPECT_EQ(re.match_text(3), "");
}

TEST(RegexObject, OutOfRangeAndUnsetGroupsAreEmpty) {
    auto re = compiled("(a)|(b)", false, false, true);
    ASSERT_EQ(re.execute("b"), 1);
    EXPECT_EQ(re.submatch_count(0), 2);
    EXPECT_EQ(re.submatch_text(0, 1), "");
    EXPECT_EQ(re.submatch_text(0, 2), "b");
    EXPECT_EQ(re.submatch_text(0, 3), "");
    EXPECT_EQ(re.submatch_text(0, -1), "");
    EXPECT_EQ(re.match_text(1), "");
    EXPECT_EQ(re.match_text(-1), "");
    EXPECT_EQ(re.match_position(1), -1);
    EXPECT_EQ(re.submatch_count(5), 0);

    // A later run forgets the matches of the earlier one.
    EXPECT_EQ(re.execute("zzz"), 0);
    EXPECT_EQ(re.match_text(0), "");
}

TEST(RegexObject, ReplaceSubstitutesGroupsAndWholeMatch) {
    auto all = compiled("(\\w+)@(\\w+)", false, false, true);
    EXPECT_EQ(all.replace("a@b, c@d", "$2:$1[$&]"), "b:a[a@b], d:c[c@d]");
    EXPECT_EQ(all.replace("none here", "$1"), "none here");
    EXPECT_EQ(all.replace("x@y", "$$1 $3 $0 $ $`|$'"), "$1 $3 $0 $ |");

    auto first = compiled("o");
    EXPECT_EQ(first.replace("foo", "0"), "f0o");

    auto twoDigits = compiled("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)");
    EXPECT_EQ(twoDigits.replace("abcdefghijk", "$11-$10-$12"), "k-j-a2");

    auto empty = compiled("", false, false, true);
    EXPECT_EQ(empty.replace("中a", "-"), "-中-a-");

    // replace leaves the matches of execute alone.
    auto re = compiled("\\d", false, false, true);
    ASSERT_EQ(re.execute("1 2"), 2);
    EXPECT_EQ(re.replace("9", "x"), "x");
    EXPECT_EQ(re.match_text(1), "2");
}

TEST(RegexObject, InvalidPatternIsAnErrorValueEverywhere) {
    RegexObject re;
    EXPECT_FALSE(re.create("a(b"));
    EXPECT_TRUE(re.failed());
    EXPECT_NE(re.lastError().message.find("正则表达式无效"), std::string::npos);
    EXPECT_EQ(re.execute("ab"), 0);
    EXPECT_FALSE(re.tryExecute("ab").ok());
    EXPECT_EQ(re.replace("ab", "x"), "ab");
    EXPECT_FALSE(re.tryReplace("ab", "x").ok());

    RegexObject never;
    EXPECT_EQ(never.execute("x"), 0);
    EXPECT_TRUE(never.failed());

    // A moved-from object behaves like one that was never created.
    RegexObject source;
    ASSERT_TRUE(source.create("x"));
    RegexObject target = std::move(source);
    EXPECT_EQ(target.execute("x"), 1);
    EXPECT_EQ(source.execute("x"), 0);
    EXPECT_TRUE(source.failed());

    // A good pattern afterwards clears the error.
    ASSERT_TRUE(re.create("b"));
    EXPECT_EQ(re.execute("ab"), 1);
    EXPECT_FALSE(re.failed());
}

TEST(RegexObject, InvalidUtf8IsReadAsReplacementCharacter) {
    auto re = compiled("a(.)b");
    ASSERT_EQ(re.execute("xa\xFF"
                         "b"),
              1);
    EXPECT_EQ(re.submatch_text(0, 1), "\xEF\xBF\xBD");
}

TEST(RegexObject, CatalogueReplyWithTwoEntries) {
    const std::string reply = "searchCallback({\"xml\":\"<result>" +
                              entry("轻聊\n精简版", "QQ_9.7.exe", "https://dl.example/qq.exe") +
                              entry("WeChat", "wechat.exe", "http://dl.example/wx.exe") +
                              "</result>\"})";
    auto re = compiled(kCataloguePattern, false, false, true);
    ASSERT_EQ(re.execute(reply), 2);
    for (int m = 0; m < 2; ++m)
        EXPECT_EQ(re.submatch_count(m), 9);
    EXPECT_EQ(re.submatch_text(0, 1), "轻聊\n精简版");
    EXPECT_EQ(re.submatch_text(0, 2), "QQ_9.7.exe");
    EXPECT_EQ(re.submatch_text(0, 3), "1048576");
    EXPECT_EQ(re.submatch_text(0, 4), "h-QQ_9.7.exe");
    EXPECT_EQ(re.submatch_text(0, 5), "https://dl.example/qq.exe");
    EXPECT_EQ(re.submatch_text(0, 6), "2024-01-02");
    EXPECT_EQ(re.submatch_text(0, 7), "1.2.3");
    EXPECT_EQ(re.submatch_text(0, 8), "https://dl.example/qq.exe?s=1");
    EXPECT_EQ(re.submatch_text(0, 9), "logo/QQ_9.7.exe.png");
    EXPECT_EQ(re.submatch_text(1, 1), "WeChat");
    EXPECT_EQ(re.submatch_text(1, 5), "http://dl.example/wx.exe");
}

TEST(RegexObject, CatalogueEntryWithoutAddressJoinsTheNextEntry) {
    const std::string reply = entry("Broken", "broken.exe", "not an address") +
                              entry("Good", "good.exe", "https://x.example/g.exe") +
                              entry("Third", "third.exe", "https://x.example/t.exe");
    auto re = compiled(kCataloguePattern, false, false, true);
    ASSERT_EQ(re.execute(reply), 2);
    EXPECT_EQ(re.submatch_text(0, 1), "Broken");
    EXPECT_EQ(re.submatch_text(0, 5), "https://x.example/g.exe");
    EXPECT_EQ(re.submatch_text(1, 1), "Third");
}

TEST(RegexObject, CraftedBacktrackingReplyEndsWithAnErrorOrAResult) {
    // Many opened entries that never complete: every start drags the lazy gaps to the end.
    std::string reply;
    for (int i = 0; i < 20000; ++i)
        reply += "<displayname><![CDATA[x]]></displayname><filename>a</filename>"
                 "<filesize>1</filesize><hash>h</hash><url><![CDATA[http://";
    auto re = compiled(kCataloguePattern, false, false, true);
    const auto started = std::chrono::steady_clock::now();
    const auto result = re.tryExecute(reply);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    if (result.ok()) {
        EXPECT_EQ(*result, 0);
    } else {
        EXPECT_FALSE(result.error().message.empty());
        EXPECT_EQ(re.execute(reply), 0);
        EXPECT_TRUE(re.failed());
    }
}

TEST(RegexObject, NestedQuantifierBlowUpIsStopped) {
    auto re = compiled("^(a+)+$");
    const std::string subject = std::string(40, 'a') + "!";
    const auto started = std::chrono::steady_clock::now();
    const auto result = re.tryExecute(subject);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().message.find("超出限制"), std::string::npos);
}
