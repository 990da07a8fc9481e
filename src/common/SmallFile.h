#pragma once
// Reading a small file of our own (a saved state, a list) that anyone could have replaced.

#include <cstdint>
#include <optional>
#include <string>

namespace vantorel {

// The whole of the regular file at `path` if it holds at most `maxBytes`; none for anything
// else (missing, unreadable, a link, a pipe, a device, too large), so that nothing found there
// is followed, waited on or read without end.
std::optional<std::string> readSmallFile(const std::string& path, std::uint64_t maxBytes);

} // namespace vantorel
