#pragma once
// A reply's head as libcurl hands it over, one line a call: the status line, the header lines
// and the blank line that ends it. Through interim replies and redirects only the last reply's
// head is kept: a new status line starts over.

#include "net/ContentLength.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::net {

struct ReplyHead {
    long status = 0;        // of the status line; 0 when it holds none
    std::string statusLine; // "HTTP/1.1 200 OK"
    // The header lines, "\r\n"-separated, status line excluded, no break after the last; an
    // obsolete folded continuation stays joined to the line it continues.
    std::string lines;
    ContentLength length;
    std::string contentRange;
    std::string contentEncoding;
    std::string contentType;
    std::string acceptRanges;
    std::string etag;         // as sent, quotes and any "W/" included
    std::string lastModified; // as sent
    // What the server says of the file beyond this reply: every Link header's value (mirrors
    // among them, RFC 6249), and the whole file's digests (Digest, RFC 3230; Repr-Digest, RFC
    // 9530), several headers of one name joined with ", " as HTTP allows.
    std::vector<std::string> links;
    std::string digest;
    std::string reprDigest;
    bool complete = false; // the blank line that ends the head has arrived

    // One line, with or without its line break. False when the head cannot be trusted (a
    // Content-Length that is not one plain number): the transfer is then stopped.
    bool take(std::string_view line);

    // True when the body is not the resource's bytes as they are.
    bool coded() const;
};

// `line` without the line break at its end.
std::string_view withoutLineBreak(std::string_view line);

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total; // none for "*"
};

// "bytes FIRST-LAST/TOTAL" (or "/*"); none when it is not of that form.
std::optional<ContentRange> parseContentRange(std::string_view text);

// The total of an unsatisfiable range's "bytes */TOTAL"; none when it is not of that form.
std::optional<std::uint64_t> unsatisfiedTotal(std::string_view text);

} // namespace vantorel::net
