#include "cli/ProgressLines.h"

#include "cli/TerminalText.h"
#include "common/ByteSize.h"
#include "common/Duration.h"

#include <algorithm>
#include <cstdio>

namespace vantorel::cli {
namespace {

using download::QueueItem;
using download::QueueState;

std::string bytes(std::uint64_t count) {
    return formatBytes(static_cast<double>(count), ByteStyle::Scaled);
}

// The names give way to the status, down to this many columns.
constexpr std::size_t kNameAtLeast = 12;

} // namespace

std::string progressStatus(const QueueItem& item) {
    if (!item.unfinished() || item.state == QueueState::Waiting)
        return download::queueStatusText(item);
    const std::string sizes = item.totalKnown ? std::to_string(item.percent) + "%  " +
                                                    bytes(item.bytes) + " / " + bytes(item.total)
                                              : bytes(item.bytes);
    if (item.state == QueueState::Retrying)
        return item.progressText + "  " + sizes;
    std::string status = sizes + "  " + formatBytes(item.bytesPerSecond, ByteStyle::Speed) + "/s";
    if (item.limited || item.refreshing)
        status += "  " + download::queueStatusText(item);
    else if (item.secondsLeft)
        status += "  剩余 " + formatDuration(*item.secondsLeft);
    return status;
}

void ProgressLines::draw(const std::vector<QueueItem>& items, std::size_t columns) {
    std::string text = clear();
    // A line that fills the row makes some terminals wrap.
    const std::size_t room = columns > 1 ? columns - 1 : 1;
    std::vector<std::string> names, statuses;
    std::size_t nameWidth = 0, statusWidth = 0;
    for (const QueueItem& item : items) {
        names.push_back(terminalSafe(item.entry.name));
        statuses.push_back(terminalSafe(progressStatus(item)));
        nameWidth = std::max(nameWidth, displayWidth(names.back()));
        statusWidth = std::max(statusWidth, displayWidth(statuses.back()));
    }
    // One download: its status alone.
    if (items.size() == 1)
        nameWidth = 0;
    if (nameWidth > 0 && nameWidth + 2 + statusWidth > room)
        nameWidth = std::max(kNameAtLeast, room > statusWidth + 2 ? room - statusWidth - 2 : 0);
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::string line;
        if (nameWidth > 0) {
            line = shortenMiddle(names[i], nameWidth);
            line.append(nameWidth - displayWidth(line) + 2, ' ');
        }
        text += cutToWidth(line + statuses[i], room) + "\n";
    }
    shown_ = items.size();
    std::fputs(text.c_str(), stderr);
}

void ProgressLines::erase() {
    std::fputs(clear().c_str(), stderr);
    shown_ = 0;
}

std::string ProgressLines::clear() const {
    return shown_ == 0 ? std::string() : "\033[" + std::to_string(shown_) + "A\r\033[J";
}

} // namespace vantorel::cli
