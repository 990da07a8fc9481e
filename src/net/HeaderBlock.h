#pragma once
// Header blocks: header lines "Name: value" separated by "\r\n", no break after the last line.
// A line splits at its first colon; white space around the name and the value is removed.

#include "common/Result.h"
#include "common/Text.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::net {

struct HeaderField {
    std::string name;
    std::string value;
};

// One line "Name: value" split at its first colon, name and value without blanks around them;
// none when it has no colon or no name.
struct HeaderLine {
    std::string_view name;
    std::string_view value;
};
std::optional<HeaderLine> splitHeaderLine(std::string_view line);

// A caller's block, strictly: any line break ("\r\n", or a lone "\r" or "\n", so that no value
// can smuggle in a line of its own) ends a line, empty lines are skipped, and a line without a
// colon or with an empty name is an error naming that line.
Result<std::vector<HeaderField>> parseHeaderBlock(std::string_view block);

// A received block, leniently: lines without a colon are skipped.
std::vector<HeaderField> readHeaderBlock(std::string_view block);

// Header names compare without regard to case.
bool blockHasHeader(std::string_view block, std::string_view name);
// Value of the first header of that name; empty if absent.
std::string headerValue(std::string_view block, std::string_view name);
// Values of every header of that name, in order.
std::vector<std::string> headerValues(std::string_view block, std::string_view name);

// A client's stored default: the header's name form ("Accept:" or "User-Agent: ") and its
// line as stored, which may begin or end with "\r\n".
struct DefaultHeader {
    std::string_view nameForm;
    std::string line;
};

// The name a name form stands for: "User-Agent: " -> "User-Agent".
std::string_view nameOfForm(std::string_view nameForm);

// The caller's block (trailing line breaks removed) followed by every default whose header the
// caller's block lacks, in the defaults' order. Each stored line is appended without its own
// leading or trailing "\r\n" and joined with "\r\n", so the result never begins or ends with a
// line break and a default that opens an empty block takes its first form ("Accept: */*").
std::string completeHeaderBlock(std::string_view callerBlock,
                                std::span<const DefaultHeader> defaults);

} // namespace vantorel::net
