#include "script/RegexObject.h"

#include "common/TextEncoding.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <climits>
#include <utility>

namespace vantorel::script {

namespace {

// Backtracking budget of one search. A legitimate reply of a few MiB needs a small fraction of
// it; a reply crafted to make a lazy pattern backtrack runs into it within a fraction of a
// second instead of hanging the program.
constexpr std::uint32_t kMatchLimit = 20'000'000;
constexpr std::uint32_t kDepthLimit = 100'000;     // interpreter only
constexpr std::uint32_t kHeapLimitKiB = 64 * 1024; // interpreter only
constexpr std::size_t kJitStackMax = 4 * 1024 * 1024;

struct CodeDeleter {
    void operator()(pcre2_code* p) const noexcept { pcre2_code_free(p); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* p) const noexcept { pcre2_compile_context_free(p); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* p) const noexcept { pcre2_match_context_free(p); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* p) const noexcept { pcre2_match_data_free(p); }
};
struct JitStackDeleter {
    void operator()(pcre2_jit_stack* p) const noexcept { pcre2_jit_stack_free(p); }
};

std::string pcreMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, std::size(buffer));
    if (length < 0)
        return "错误码 " + std::to_string(code);
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer),
                                           static_cast<std::size_t>(length)));
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Offsets of every match, flat: for match m and group g (0 = whole match) the start is at
// (m * groups + g) * 2 and the end right after it; PCRE2_UNSET marks a group without part.
struct Matches {
    std::size_t groups = 0; // capturing groups + 1
    std::vector<PCRE2_SIZE> offsets;

    std::size_t count() const { return groups == 0 ? 0 : offsets.size() / (groups * 2); }
};

} // namespace

struct RegexObject::Impl {
    std::unique_ptr<pcre2_code, CodeDeleter> code;
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> matchContext;
    std::unique_ptr<pcre2_jit_stack, JitStackDeleter> jitStack;
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData;
    bool global = false;
    Error compileError;

    std::u16string subject; // of the latest execute()
    Matches matches;
    Error error;

    Result<Matches> run(std::u16string_view text);
    std::string text(std::size_t match, std::size_t group) const;
};

Result<Matches> RegexObject::Impl::run(std::u16string_view text) {
    if (!code)
        return compileError.message.empty() ? makeError("正则表达式尚未创建") : compileError;
    if (text.size() > static_cast<std::size_t>(INT_MAX))
        return makeError("文本过长，无法匹配");

    Matches found;
    found.groups = pcre2_get_ovector_count(matchData.get());
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    PCRE2_SIZE start = 0;
    while (start <= text.size()) {
        const int rc = pcre2_match(code.get(), subject, text.size(), start, PCRE2_NO_UTF_CHECK,
                                   matchData.get(), matchContext.get());
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0) {
            if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT)
                return makeError("文本过于复杂，正则表达式匹配超出限制，已中止");
            return makeError("正则表达式匹配失败：" + pcreMessage(rc));
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData.get());
        for (std::size_t g = 0; g < found.groups; ++g) {
            const bool set = static_cast<int>(g) < rc && ovector[2 * g] != PCRE2_UNSET;
            found.offsets.push_back(set ? ovector[2 * g] : PCRE2_UNSET);
            found.offsets.push_back(set ? ovector[2 * g + 1] : PCRE2_UNSET);
        }
        if (!global)
            break;
        const PCRE2_SIZE matchStart = ovector[0];
        PCRE2_SIZE next = ovector[1];
        if (next <= matchStart) {
            // An empty match: go on one character further so the search always advances.
            next = matchStart;
            if (next >= text.size())
                break;
            next += (isHighSurrogate(text[next]) && next + 1 < text.size() &&
                     isLowSurrogate(text[next + 1]))
                        ? 2
                        : 1;
        }
        start = next;
    }
    return found;
}

std::string RegexObject::Impl::text(std::size_t match, std::size_t group) const {
    const std::size_t at = (match * matches.groups + group) * 2;
    const PCRE2_SIZE begin = matches.offsets[at];
    const PCRE2_SIZE end = matches.offsets[at + 1];
    if (begin == PCRE2_UNSET || end < begin)
        return {};
    return utf16ToUtf8(std::u16string_view(subject).substr(begin, end - begin));
}

RegexObject::RegexObject() : impl_(std::make_unique<Impl>()) {}
RegexObject::~RegexObject() = default;
// A moved-from object stays usable: it is like a fresh one, without a pattern.
RegexObject::RegexObject(RegexObject&& other) noexcept
    : impl_(std::exchange(other.impl_, std::make_unique<Impl>())) {}
RegexObject& RegexObject::operator=(RegexObject&& other) noexcept {
    if (this != &other)
        impl_ = std::exchange(other.impl_, std::make_unique<Impl>());
    return *this;
}

bool RegexObject::create(std::string_view pattern, bool ignoreCase, bool multiline,
                         bool /*singleline: accepted, changes nothing*/, bool global) {
    auto fresh = std::make_unique<Impl>();
    fresh->global = global;

    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> compileContext(
        pcre2_compile_context_create(nullptr));
    fresh->matchContext.reset(pcre2_match_context_create(nullptr));
    fresh->jitStack.reset(pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr));
    if (!compileContext || !fresh->matchContext || !fresh->jitStack) {
        fresh->compileError = makeError("正则表达式引擎无法创建");
        impl_ = std::move(fresh);
        return false;
    }
    pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_LF);
    pcre2_set_match_limit(fresh->matchContext.get(), kMatchLimit);
    pcre2_set_depth_limit(fresh->matchContext.get(), kDepthLimit);
    pcre2_set_heap_limit(fresh->matchContext.get(), kHeapLimitKiB);
    pcre2_jit_stack_assign(fresh->matchContext.get(), nullptr, fresh->jitStack.get());

    std::uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                            PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY;
    if (ignoreCase)
        options |= PCRE2_CASELESS;
    if (multiline)
        options |= PCRE2_MULTILINE;

    const std::u16string pattern16 = utf8ToUtf16(pattern);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    fresh->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern16.data()),
                                    pattern16.size(), options, &errorCode, &errorOffset,
                                    compileContext.get()));
    if (!fresh->code) {
        fresh->compileError = makeError("正则表达式无效：" + pcreMessage(errorCode) + "（位置 " +
                                        std::to_string(errorOffset) + "）");
        fresh->error = fresh->compileError;
        impl_ = std::move(fresh);
        return false;
    }
    // Without JIT (an unsupported platform) the interpreter runs, bounded by the same limits.
    pcre2_jit_compile(fresh->code.get(), PCRE2_JIT_COMPLETE);
    fresh->matchData.reset(pcre2_match_data_create_from_pattern(fresh->code.get(), nullptr));
    if (!fresh->matchData) {
        fresh->code.reset();
        fresh->compileError = makeError("正则表达式引擎无法创建");
        fresh->error = fresh->compileError;
        impl_ = std::move(fresh);
        return false;
    }
    impl_ = std::move(fresh);
    return true;
}

Result<int> RegexObject::tryExecute(std::string_view subject) {
    impl_->matches = {};
    impl_->subject = utf8ToUtf16(subject);
    auto found = impl_->run(impl_->subject);
    if (!found) {
        impl_->subject.clear();
        impl_->error = found.error();
        return found.error();
    }
    impl_->error = {};
    impl_->matches = std::move(found.value());
    return static_cast<int>(impl_->matches.count());
}

int RegexObject::execute(std::string_view subject) {
    const auto count = tryExecute(subject);
    return count ? *count : 0;
}

std::string RegexObject::match_text(int match) const {
    if (match < 0 || static_cast<std::size_t>(match) >= impl_->matches.count())
        return {};
    return impl_->text(static_cast<std::size_t>(match), 0);
}

int RegexObject::match_position(int match) const {
    if (match < 0 || static_cast<std::size_t>(match) >= impl_->matches.count())
        return -1;
    return static_cast<int>(
        impl_->matches.offsets[static_cast<std::size_t>(match) * impl_->matches.groups * 2]);
}

int RegexObject::match_length(int match) const {
    if (match < 0 || static_cast<std::size_t>(match) >= impl_->matches.count())
        return -1;
    const std::size_t at = static_cast<std::size_t>(match) * impl_->matches.groups * 2;
    const PCRE2_SIZE begin = impl_->matches.offsets[at];
    const PCRE2_SIZE end = impl_->matches.offsets[at + 1];
    return end > begin ? static_cast<int>(end - begin) : 0;
}

int RegexObject::submatch_count(int match) const {
    if (match < 0 || static_cast<std::size_t>(match) >= impl_->matches.count())
        return 0;
    return static_cast<int>(impl_->matches.groups) - 1;
}

std::string RegexObject::submatch_text(int match, int group) const {
    if (match < 0 || static_cast<std::size_t>(match) >= impl_->matches.count() || group < 0 ||
        static_cast<std::size_t>(group) >= impl_->matches.groups)
        return {};
    return impl_->text(static_cast<std::size_t>(match), static_cast<std::size_t>(group));
}

Result<std::string> RegexObject::tryReplace(std::string_view subject,
                                            std::string_view replacement) {
    const std::u16string text = utf8ToUtf16(subject);
    auto found = impl_->run(text);
    if (!found) {
        impl_->error = found.error();
        return found.error();
    }
    impl_->error = {};
    const Matches& m = *found;
    const std::u16string with = utf8ToUtf16(replacement);
    const std::size_t captures = m.groups - 1;

    std::u16string out;
    out.reserve(text.size());
    PCRE2_SIZE copied = 0;
    for (std::size_t i = 0; i < m.count(); ++i) {
        const PCRE2_SIZE* ov = &m.offsets[i * m.groups * 2];
        const PCRE2_SIZE begin = ov[0];
        const PCRE2_SIZE end = ov[1] < begin ? begin : ov[1];
        out.append(text, copied, begin - copied);
        const auto group = [&](std::size_t g) {
            if (ov[2 * g] != PCRE2_UNSET && ov[2 * g + 1] >= ov[2 * g])
                out.append(text, ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
        };
        for (std::size_t k = 0; k < with.size(); ++k) {
            const char16_t c = with[k];
            if (c != u'$' || k + 1 >= with.size()) {
                out += c;
                continue;
            }
            const char16_t next = with[k + 1];
            const auto isDigit = [](char16_t d) { return d >= u'0' && d <= u'9'; };
            if (next == u'$') {
                out += u'$';
                ++k;
            } else if (next == u'&') {
                group(0);
                ++k;
            } else if (next == u'`') {
                out.append(text, 0, begin);
                ++k;
            } else if (next == u'\'') {
                out.append(text, end, std::u16string::npos);
                ++k;
            } else if (isDigit(next)) {
                // Two digits when they name an existing group, else one digit, else literal.
                const std::size_t one = next - u'0';
                if (k + 2 < with.size() && isDigit(with[k + 2])) {
                    const std::size_t two = one * 10 + (with[k + 2] - u'0');
                    if (two >= 1 && two <= captures) {
                        group(two);
                        k += 2;
                        continue;
                    }
                }
                if (one >= 1 && one <= captures) {
                    group(one);
                    ++k;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
        copied = end;
    }
    out.append(text, copied, std::u16string::npos);
    return utf16ToUtf8(out);
}

std::string RegexObject::replace(std::string_view subject, std::string_view replacement) {
    auto result = tryReplace(subject, replacement);
    return result ? std::move(result).value() : std::string(subject);
}

Error RegexObject::lastError() const {
    return impl_->error;
}
bool RegexObject::failed() const {
    return !impl_->error.message.empty();
}

} // namespace vantorel::script
