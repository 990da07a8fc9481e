#pragma once
// Text for the terminal: texts from the network made harmless to print, and columns lined up
// by the width a terminal gives each character (a Chinese character takes two columns).

#include <cstddef>
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

// Rows of cells, each column padded to its widest cell and two spaces apart; the last column
// is not padded. Every cell is passed through terminalSafe first.
std::string alignedTable(const std::vector<std::vector<std::string>>& rows);

} // namespace vantorel::cli
