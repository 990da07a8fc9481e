#include "script/JsonObject.h"
#include "script/JsonPath.h"
#include "script/JsonWriter.h"

#include <gtest/gtest.h>

using vantorel::script::JsonObject;
using vantorel::script::JsonType;

TEST(JsonObject, ReadsMembersAlongPaths) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"zt":1,"dom":"https://d.example","url":"?f=1",)"
                           R"("data":[{"name":"甲","n":2.5},{"name":"乙","ok":true}]})"));
    EXPECT_EQ(json.get_text(".dom"), "https://d.example");
    EXPECT_EQ(json.get_text("url"), "?f=1"); // leading dot optional
    EXPECT_EQ(json.get_text(".data[1].name"), "乙");
    EXPECT_EQ(json.get_text(".data[0]['name']"), "甲");
    EXPECT_EQ(json.get_text(".data[0].n"), "2.5");
    EXPECT_EQ(json.get_text(".data[1].ok"), "true");
    EXPECT_EQ(json.get_text(".zt"), "1");
    EXPECT_EQ(json.get_text(".data[1]"), R"({"name":"乙","ok":true})");
    EXPECT_EQ(json.get_text(".data[2].name"), "");
    EXPECT_EQ(json.get_text(".nothing.deeper"), "");
    EXPECT_EQ(json.get_text(".dom.length"), "");
}

TEST(JsonObject, MalformedPathsAreErrors) {
    for (const char* bad :
         {"..a", "a.", ".[0]", "a[", "a[x]", "a[01]", "a[-1]", "a['x]", ".1a", "a b", "a]"}) {
        EXPECT_FALSE(JsonObject::check_path(bad).ok()) << bad;
        EXPECT_FALSE(vantorel::script::parseJsonPath(bad).ok()) << bad;
    }
    for (const char* good :
         {"", ".", "a", ".a.b", "[0]", ".a[0][1]", "a[\"x.y\"]", ".$_1", ".名字"})
        EXPECT_TRUE(JsonObject::check_path(good).ok()) << good;

    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"a":{"b":1}})"));
    EXPECT_FALSE(json.exists("a..b"));
    EXPECT_FALSE(json.set_text("a..b", "x").ok());
    EXPECT_EQ(json.to_text(), R"({"a":{"b":1}})");
}

TEST(JsonObject, FailedParseKeepsTheDocument) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"keep":1})"));
    for (const char* bad : {"", "{", R"({"a":})", "[1,]", "{'a':1,}", "1 2", "alert(1)",
                            "function(){}", R"("abc)", "tru", "01", "1.", "\"a\nb\"", "({})x"}) {
        EXPECT_FALSE(json.parse(bad)) << bad;
        EXPECT_FALSE(json.lastError().message.empty());
    }
    EXPECT_EQ(json.to_text(), R"({"keep":1})");

    // Deep nesting is refused instead of exhausting the stack.
    EXPECT_FALSE(json.parse(std::string(100000, '[')));
    EXPECT_TRUE(json.parse(std::string(400, '[') + std::string(400, ']')));
}

TEST(JsonObject, AcceptsRelaxedScriptForms) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"(({zt:1, 'info':'it\'s', $x : "\x41\u4e2d", 7: null}))"));
    EXPECT_EQ(json.get_text(".info"), "it's");
    EXPECT_EQ(json.get_text(".$x"), "A中");
    EXPECT_EQ(json.keys(""), (std::vector<std::string>{"zt", "info", "$x", "7"}));
    EXPECT_TRUE(json.parse("\xEF\xBB\xBF [\"\\ud83d\\ude00\", \"\\ud83d\"]"));
    EXPECT_EQ(json.get_text("[0]"), "😀");
    EXPECT_EQ(json.get_text("[1]"), "\xEF\xBF\xBD");
}

TEST(JsonObject, CountKeysTypesAndExistence) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"zeta":{"a":1,"b":2,"c":3},"alpha":[1,"x"],"mid":{},)"
                           R"("s":"t","n":0,"f":false,"z":null})"));
    EXPECT_EQ(json.keys(""),
              (std::vector<std::string>{"zeta", "alpha", "mid", "s", "n", "f", "z"}));
    EXPECT_EQ(json.keys(".alpha"), (std::vector<std::string>{"0", "1"}));
    EXPECT_TRUE(json.keys(".s").empty());
    EXPECT_EQ(json.count(".zeta"), 3);
    EXPECT_EQ(json.count(".alpha"), 2);
    EXPECT_EQ(json.count(".mid"), 0);
    EXPECT_EQ(json.count(".s"), 1);
    EXPECT_EQ(json.count(".z"), 0);
    EXPECT_EQ(json.count(".absent"), 0);

    EXPECT_EQ(json.type_of(".s"), JsonType::Text);
    EXPECT_EQ(json.type_of(".n"), JsonType::Number);
    EXPECT_EQ(json.type_of(".f"), JsonType::Logical);
    EXPECT_EQ(json.type_of(".alpha"), JsonType::Object);
    EXPECT_EQ(json.type_of(".z"), JsonType::Object);
    EXPECT_EQ(json.type_of(".absent"), JsonType::None);

    EXPECT_TRUE(json.exists(".n"));
    EXPECT_TRUE(json.exists(".f"));
    EXPECT_FALSE(json.exists(".z"));
    EXPECT_FALSE(json.exists(".absent"));
    EXPECT_FALSE(json.exists(".s.x"));

    json.clear();
    EXPECT_EQ(json.to_text(), "null");
    EXPECT_FALSE(json.exists(""));
    json.create();
    EXPECT_EQ(json.to_text(), "{}");
}

TEST(JsonObject, ChangesFollowScriptRules) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"s":"text","list":[1,2,3],"obj":{}})"));

    ASSERT_TRUE(json.push(".s", "4").ok());
    EXPECT_EQ(json.to_text(".s"), "[4]");
    ASSERT_TRUE(json.push(".fresh", "{'a':1}").ok());
    EXPECT_EQ(json.to_text(".fresh"), R"([{"a":1}])");

    ASSERT_TRUE(json.remove_at(".list", 0).ok());
    EXPECT_EQ(json.to_text(".list"), "[2,3]");
    EXPECT_TRUE(json.remove_at(".list", 5).ok());
    EXPECT_TRUE(json.remove_at(".list", -1).ok());
    EXPECT_EQ(json.to_text(".list"), "[2,3]");
    EXPECT_FALSE(json.remove_at(".obj", 0).ok());

    ASSERT_TRUE(json.set_element(".list", 3, "\"x\"").ok());
    EXPECT_EQ(json.to_text(".list"), R"([2,3,null,"x"])");
    ASSERT_TRUE(json.set_element(".obj", 2, "true").ok());
    EXPECT_EQ(json.to_text(".obj"), R"({"2":true})");
    EXPECT_FALSE(json.set_element(".missing", 0, "1").ok());
    EXPECT_FALSE(json.set_element(".list", 0, "not json").ok());
    EXPECT_FALSE(json.set_element(".list", 50000000, "1").ok());

    ASSERT_TRUE(json.new_array(".obj.arr").ok());
    ASSERT_TRUE(json.set_json(".obj.arr[0]", R"({"k":[true]})").ok());
    EXPECT_EQ(json.get_text(".obj.arr[0].k[0]"), "true");
    EXPECT_FALSE(json.set_json(".no.such", "1").ok());
    EXPECT_FALSE(json.set_text(".s[0].x.y", "v").ok());

    ASSERT_TRUE(json.set_json("", "[1]").ok());
    EXPECT_EQ(json.to_text(), "[1]");
}

TEST(JsonObject, SetTextRoundTripsAnyCharacters) {
    JsonObject json;
    const std::string awkward = "it's \"quoted\" \\ back\nline\r\ttab </script> 中";
    ASSERT_TRUE(json.set_text(".t", awkward).ok());
    EXPECT_EQ(json.get_text(".t"), awkward);
    JsonObject copy;
    ASSERT_TRUE(copy.parse(json.to_text()));
    EXPECT_EQ(copy.get_text(".t"), awkward);
    EXPECT_EQ(json.to_text(), R"({"t":"it's \"quoted\" \\ back\nline\r\ttab </script> 中"})");
}

TEST(JsonObject, SerialisesLikeStringify) {
    JsonObject json;
    ASSERT_TRUE(json.set_text(".a", std::string("\b\f\x01\x1f\x7f", 5) + "\u00ad\u0600\u070f" +
                                        "\u17b4\u200c\u2028\u202f\u2060\u206f\ufeff\ufff0\uffff" +
                                        "\u00a0é/😀")
                    .ok());
    EXPECT_EQ(json.to_text(".a"), "\"\\b\\f\\u0001\\u001f\\u007f\\u00ad\\u0600\\u070f\\u17b4"
                                  "\\u200c\\u2028\\u202f\\u2060\\u206f\\ufeff\\ufff0\\uffff"
                                  "\u00a0é/😀\"");

    ASSERT_TRUE(json.parse(R"({"i":10,"neg":-3,"f":1.0,"big":1e21,"small":1.5e-7,"frac":0.000001,)"
                           R"("huge":1e999,"u":18446744073709551615,"arr":[[],{}],"e":{}})"));
    EXPECT_EQ(json.to_text(), R"({"i":10,"neg":-3,"f":1,"big":1e+21,"small":1.5e-7,)"
                              R"("frac":0.000001,"huge":null,"u":18446744073709551615,)"
                              R"("arr":[[],{}],"e":{}})");

    ASSERT_TRUE(json.parse(R"({"a":[1,{"b":null}],"c":"d"})"));
    EXPECT_EQ(json.to_text("", 2), "{\n  \"a\": [\n    1,\n    {\n      \"b\": null\n    }\n  ],\n"
                                   "  \"c\": \"d\"\n}");
    EXPECT_EQ(json.to_text(".a", std::string("\t")), "[\n\t1,\n\t{\n\t\t\"b\": null\n\t}\n]");
    EXPECT_EQ(json.to_text(".a", 0), R"([1,{"b":null}])");
    EXPECT_EQ(json.to_text(".c", 40), R"("d")");
    EXPECT_EQ(json.to_text(".a[1]", 99), "{\n          \"b\": null\n}");
    EXPECT_EQ(json.to_text(".a[1]", std::string("一二三四五六七八九十十一")),
              "{\n一二三四五六七八九十\"b\": null\n}");
    EXPECT_EQ(json.to_text(".absent"), "");
}

TEST(JsonObject, NumbersPrintAsJavaScriptDoes) {
    using vantorel::script::javaScriptNumber;
    EXPECT_EQ(javaScriptNumber(0.1), "0.1");
    EXPECT_EQ(javaScriptNumber(-0.0), "0");
    EXPECT_EQ(javaScriptNumber(123456789012345680000.0), "123456789012345680000");
    EXPECT_EQ(javaScriptNumber(1e21), "1e+21");
    EXPECT_EQ(javaScriptNumber(1.25e22), "1.25e+22");
    EXPECT_EQ(javaScriptNumber(1e-7), "1e-7");
    EXPECT_EQ(javaScriptNumber(-2.5e-8), "-2.5e-8");
    EXPECT_EQ(javaScriptNumber(123.456), "123.456");
    EXPECT_EQ(javaScriptNumber(5e-324), "5e-324");
}
