#pragma once
// Text for the terminal: texts from the network made harmless to print, and columns lined up
// by the width a terminal gives each character (a Chinese character takes two columns).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::cli {

// One line of text that cannot steer the terminal: tabs and line breaks become spaces, other
// control characters (C0, DEL, C1) and the bidirectional controls are written as "\u001b" the way
// the JSON output writes them, and invalid UTF-8 becomes U+FFFD.
std::string terminalSafe(std::string_view text);

// Columns the text takes on a terminal; the text is valid UTF-8 without control characters.
std::size_t displayWidth(std::string_view text);

// The text in at most `width` columns: whole when it fits, else its start and its end with "…"
// between them, so a shortened file name keeps its extension. Valid UTF-8 without control
// characters.
std::string shortenMiddle(std::string_view text, std::size_t width);

// The text cut after `width` columns; a character that would straddle the edge goes too.
std::string cutToWidth(std::string_view text, std::size_t width);

// Columns of the terminal on `fd`; none when it is not a terminal or does not say.
std::optional<std::size_t> terminalColumns(int fd);

// Rows of cells, each column padded to its widest cell and two spaces apart; the last column
// is not padded. Every cell is passed through terminalSafe first.
std::string alignedTable(const std::vector<std::vector<std::string>>& rows);

} // namespace vantorel::cli
