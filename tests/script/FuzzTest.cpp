// Random and half-structured input for the parsers and the regular-expression wrapper, for a
// bounded time per target. Run under the sanitizer build to turn any memory fault into a
// failure. VANTOREL_FUZZ_SECONDS lengthens the run; VANTOREL_FUZZ_SEED replays one.

#include "common/TextEncoding.h"
#include "net/CharsetConverter.h"
#include "net/EscapeDecoder.h"
#include "script/JsonObject.h"
#include "script/JsonPath.h"
#include "script/RegexObject.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

double budgetSeconds() {
    const char* env = std::getenv("VANTOREL_FUZZ_SECONDS");
    return env ? std::atof(env) : 1.0;
}

std::uint32_t seed() {
    const char* env = std::getenv("VANTOREL_FUZZ_SEED");
    return env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : 20240607u;
}

class Fuzzer {
  public:
    Fuzzer()
        : rng_(seed()), end_(clock::now() +
                             std::chrono::milliseconds(static_cast<long>(budgetSeconds() * 1000))) {
    }

    bool more() { return ++rounds_ < 200 || clock::now() < end_; }

    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }

    std::string bytes(std::size_t maxLength) {
        std::string out(below(maxLength + 1), '\0');
        for (char& c : out)
            c = static_cast<char>(below(256));
        return out;
    }

    // Text assembled from tokens of the input language, with an occasional random byte.
    std::string tokens(const std::vector<std::string>& alphabet, std::size_t maxTokens) {
        std::string out;
        const std::size_t n = below(maxTokens + 1);
        for (std::size_t i = 0; i < n; ++i) {
            if (below(20) == 0)
                out += static_cast<char>(below(256));
            else
                out += alphabet[below(alphabet.size())];
        }
        return out;
    }

  private:
    using clock = std::chrono::steady_clock;
    std::mt19937 rng_;
    clock::time_point end_;
    int rounds_ = 0;
};

const std::vector<std::string> kJsonTokens = {"{",
                                              "}",
                                              "[",
                                              "]",
                                              ":",
                                              ",",
                                              "\"a\"",
                                              "'b'",
                                              "\"中\\u4e2d\\ud83d\"",
                                              "key",
                                              "1",
                                              "-0.5e3",
                                              "true",
                                              "null",
                                              "false",
                                              " ",
                                              "\n",
                                              "\"\\\"\\\\\\n\"",
                                              "(",
                                              ")",
                                              "1e999",
                                              "18446744073709551616"};

const std::vector<std::string> kPathTokens = {".",     "a", "[",  "]",  "0",    "1",   "'x'",
                                              "\"y\"", "$", "中", "\\", "data", "[0]", ".name"};

const std::vector<std::string> kRegexTokens = {
    "a",   "b",   "中",  ".",     "*",   "+",       "?",        "*?",  "(",   ")",   "(?:",
    "(?=", "(?!", "[",   "]",     "[^",  "\\s",     "\\S",      "\\d", "\\w", "\\b", "|",
    "^",   "$",   "{2}", "{1,3}", "\\1", "\\u4e2d", "[\\s\\S]", "\\",  "-",   "😀"};

const std::vector<std::string> kSubjectTokens = {"a",    "b", "ab", "中", "😀",    "\n",
                                                 "\r\n", " ", "1",  "_",  "\xFF", "\xED\xA0\x80"};

} // namespace

TEST(Fuzz, JsonReaderAndWriterRoundTrip) {
    Fuzzer fuzz;
    script::JsonObject json;
    while (fuzz.more()) {
        const std::string text = fuzz.below(3) == 0 ? fuzz.bytes(64) : fuzz.tokens(kJsonTokens, 40);
        const std::string before = json.to_text();
        if (!json.parse(text)) {
            ASSERT_EQ(json.to_text(), before);
            continue;
        }
        // Whatever was accepted writes out as valid UTF-8 that reads back to the same text.
        const std::string written = json.to_text();
        ASSERT_TRUE(isValidUtf8(written));
        script::JsonObject again;
        ASSERT_TRUE(again.parse(written)) << written;
        ASSERT_EQ(again.to_text(), written);
        ASSERT_TRUE(isValidUtf8(json.to_text("", 2)));
    }
}

TEST(Fuzz, JsonPathsAndChanges) {
    Fuzzer fuzz;
    script::JsonObject json;
    ASSERT_TRUE(json.parse(R"({"a":{"x":[1,{"y":"z"}]},"data":[{"name":"n"}],"中":"v"})"));
    while (fuzz.more()) {
        const std::string path = fuzz.below(4) == 0 ? fuzz.bytes(16) : fuzz.tokens(kPathTokens, 8);
        const bool wellFormed = script::JsonObject::check_path(path).ok();
        ASSERT_EQ(wellFormed, script::parseJsonPath(path).ok());
        (void)json.get_text(path);
        (void)json.count(path);
        (void)json.keys(path);
        (void)json.type_of(path);
        switch (fuzz.below(6)) {
        case 0:
            (void)json.set_text(path, fuzz.bytes(8));
            break;
        case 1:
            (void)json.push(path, fuzz.tokens(kJsonTokens, 6));
            break;
        case 2:
            (void)json.remove_at(path, static_cast<int>(fuzz.below(4)) - 1);
            break;
        case 3:
            (void)json.set_element(path, static_cast<int>(fuzz.below(5)), "1");
            break;
        case 4:
            (void)json.set_json(path, fuzz.tokens(kJsonTokens, 6));
            break;
        default:
            (void)json.new_array(path);
            break;
        }
        if (!json.exists("") || json.to_text().size() > 100000) {
            ASSERT_TRUE(json.parse(R"({"a":{"x":[1]}})"));
        }
        script::JsonObject again;
        ASSERT_TRUE(again.parse(json.to_text()));
    }
}

TEST(Fuzz, EscapeDecoderAndCharsets) {
    Fuzzer fuzz;
    const std::vector<std::string> escapeTokens = {"%",  "u",  "\\", "4e2d", "D83D", "de00", "41",
                                                   "zz", "中", "'",  "\n",   "%u",   "\\u"};
    const char* charsets[] = {"unicode", "utf-8", "gbk", "gb18030", "big5", "ascii", "unicodeFFFE"};
    while (fuzz.more()) {
        const std::string text = fuzz.below(2) ? fuzz.bytes(48) : fuzz.tokens(escapeTokens, 16);
        const std::string decoded = net::EscapeDecoder::decode(text);
        ASSERT_TRUE(isValidUtf8(decoded));
        if (text.find_first_of("%\\") == std::string::npos) {
            ASSERT_EQ(decoded, sanitizeUtf8(text));
        }

        const auto converted = net::CharsetConverter::to_text(text, charsets[fuzz.below(7)]);
        if (converted.ok()) {
            ASSERT_TRUE(isValidUtf8(*converted));
        }
        ASSERT_EQ(utf16ToUtf8(utf8ToUtf16(text)), sanitizeUtf8(text));
    }
}

TEST(Fuzz, RegexPatternsSubjectsAndReplacements) {
    Fuzzer fuzz;
    script::RegexObject re;
    while (fuzz.more()) {
        const std::string pattern = fuzz.tokens(kRegexTokens, 10);
        const bool flags[4] = {fuzz.below(2) == 1, fuzz.below(2) == 1, fuzz.below(2) == 1,
                               fuzz.below(2) == 1};
        if (!re.create(pattern, flags[0], flags[1], flags[2], flags[3])) {
            ASSERT_TRUE(re.failed());
            ASSERT_EQ(re.execute("abc"), 0);
            continue;
        }
        const std::string subject =
            fuzz.below(3) == 0 ? fuzz.bytes(40) : fuzz.tokens(kSubjectTokens, 30);
        const int units = static_cast<int>(utf8ToUtf16(subject).size());
        const int n = re.execute(subject);
        ASSERT_GE(n, 0);
        int previousEnd = 0;
        for (int m = 0; m < n; ++m) {
            const int at = re.match_position(m);
            ASSERT_GE(at, previousEnd);
            ASSERT_LE(at + re.match_length(m), units);
            previousEnd = at + re.match_length(m);
            ASSERT_TRUE(isValidUtf8(re.match_text(m)));
            for (int g = 0; g <= re.submatch_count(m) + 1; ++g)
                ASSERT_TRUE(isValidUtf8(re.submatch_text(m, g)));
        }
        const std::string replaced =
            re.replace(subject, fuzz.tokens({"$", "1", "&", "`", "'", "x"}, 6));
        ASSERT_TRUE(isValidUtf8(replaced));
    }
}
