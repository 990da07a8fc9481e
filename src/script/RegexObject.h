#pragma once
// One regular expression with its options, run over a subject text, handing out the matches,
// their positions and their groups, or a copy of the subject with the matches replaced.
//
// Engine: PCRE2, 16-bit code units, JIT compiled once per create(). Texts are UTF-8 outside and
// UTF-16 inside, so match_position() counts UTF-16 code units (a match after two Chinese
// characters starts at 2). Invalid UTF-8 in a subject or pattern is read as U+FFFD.
//
// Language (ECMAScript style):
//  - "." matches every character except the line feed (a carriage return too), whatever the
//    options; "[\s\S]" matches everything.
//  - "$" matches only at the very end unless multiline; multiline makes "^" match right after a
//    line feed and "$" right before one.
//  - "\s" is ASCII white space (space, \t \n \v \f \r), "\d" is [0-9], "\w" is [A-Za-z0-9_]; the
//    Unicode spaces (U+00A0, U+3000, ...) are not "\s". Case-insensitive matching folds
//    non-ASCII letters too.
//  - "\uXXXX" is a character; "[^]" is any character; a back reference to a group that took no
//    part matches the empty text.
//  - singleline is accepted and changes nothing.
//  - global finds every non-overlapping match from left to right; after an empty match the
//    search goes on one character further.
//
// Numbering:
//  - Matches are numbered from 0 in the order found.
//  - Groups are numbered from 1, in the order of their opening parentheses, as in "$1"; group
//    0 is the whole match. submatch_count() is the number of capturing groups of the pattern.
//  - A match or group number out of range gives an empty text, position -1 and count 0. A group
//    that took no part in its match gives an empty text.
//
// Failures: create() compiles the pattern and returns false for an invalid one (lastError()
// says why). execute() then reports 0 matches and replace() returns the subject unchanged, each
// with lastError() set; tryExecute()/tryReplace() give the same as an error value. A subject
// that makes the pattern backtrack past the match limit is a failure of that run, never a hang.

#include "common/Result.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::script {

class RegexObject {
  public:
    RegexObject();
    ~RegexObject();
    RegexObject(RegexObject&&) noexcept;
    RegexObject& operator=(RegexObject&&) noexcept;
    RegexObject(const RegexObject&) = delete;
    RegexObject& operator=(const RegexObject&) = delete;

    // Compiles the pattern; options default to off. False (with lastError()) when the pattern
    // is invalid. Forgets the matches of any earlier run.
    bool create(std::string_view pattern, bool ignoreCase = false, bool multiline = false,
                bool singleline = false, bool global = false);

    // Runs the pattern over the subject; returns the number of matches (0 on failure).
    int execute(std::string_view subject);
    Result<int> tryExecute(std::string_view subject);

    // Matches of the latest execute().
    std::string match_text(int match) const;
    int match_position(int match) const; // UTF-16 code units from the subject's start
    int match_length(int match) const;   // UTF-16 code units
    int submatch_count(int match) const;
    std::string submatch_text(int match, int group) const;

    // The subject with each match (every one with global, else the first) replaced. In the
    // replacement "$n"/"$nn" is group n, "$&" the whole match, "$`" the text before it, "$'"
    // the text after it and "$$" a dollar sign; any other "$" stands for itself.
    std::string replace(std::string_view subject, std::string_view replacement);
    Result<std::string> tryReplace(std::string_view subject, std::string_view replacement);

    // The failure of the latest create/execute/replace; code 0 and an empty message after a
    // success.
    Error lastError() const;
    bool failed() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vantorel::script
