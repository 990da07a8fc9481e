#pragma once
// The progress lines of `vantorel-cli download` on a terminal: one line per download, its name
// then what it is doing, redrawn in place. Each line is cut to the terminal's width (the names
// shortened in the middle first) and the last column stays free, so no line wraps and the lines
// drawn are the lines erased.

#include "download/DownloadQueue.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vantorel::cli {

// What a download is doing, after its name: its state, or while it runs the percent, bytes,
// speed and time left (or what holds it).
std::string progressStatus(const download::QueueItem& item);

class ProgressLines {
  public:
    // Replaces the lines drawn last with one line per item, for a terminal `columns` wide.
    void draw(const std::vector<download::QueueItem>& items, std::size_t columns);
    // Clears them, so a message can take their place; draw() brings them back.
    void erase();

  private:
    std::string clear() const;
    std::size_t shown_ = 0;
};

} // namespace vantorel::cli
