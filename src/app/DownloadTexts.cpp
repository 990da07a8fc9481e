#include "app/DownloadTexts.h"

#include "common/ByteSize.h"
#include "common/Duration.h"
#include "download/ShareLink.h"

#include <algorithm>

namespace vantorel::app {

using download::QueueState;

std::string sizeText(const download::QueueItem& item) {
    if (!item.totalKnown)
        return "未知";
    return formatBytes(static_cast<double>(item.total), ByteStyle::MebibytesRounded);
}

std::string speedText(const download::QueueItem& item) {
    if (item.state != QueueState::Downloading && item.state != QueueState::Retrying)
        return {};
    return formatBytes(item.bytesPerSecond, ByteStyle::Speed) + "/s";
}

std::string timeLeftText(const download::QueueItem& item) {
    if (item.state != QueueState::Downloading || !item.secondsLeft)
        return {};
    return formatDuration(*item.secondsLeft);
}

std::string progressLabelText(const download::QueueItem& item, bool brief) {
    switch (item.state) {
    case QueueState::Downloading:
        if (item.resolvingShareLink)
            return std::string(download::kResolvingText);
        if (!item.progressText.empty())
            return item.progressText;
        // No byte asked for yet: the download is starting.
        return "0%";
    case QueueState::Retrying:
        // The job's own words say what it waits for, in fewer where the label is narrow.
        if (brief && !item.progressBrief.empty())
            return item.progressBrief;
        if (item.progressText.empty())
            return std::string(download::queueStateText(item.state));
        return item.progressText;
    case QueueState::Done:
        return std::string(download::kDoneText);
    case QueueState::Failed:
        return std::string(download::kFailedText);
    case QueueState::Cancelled:
    case QueueState::Waiting:
    case QueueState::Paused:
        break;
    }
    return std::string(download::queueStateText(item.state));
}

std::string queueSummaryText(const std::vector<download::QueueItem>& items) {
    const auto count = [&](auto which) {
        return static_cast<std::size_t>(std::count_if(items.begin(), items.end(), which));
    };
    if (const std::size_t running = count([](const auto& i) { return i.unfinished(); }))
        return std::to_string(running) + " 个下载进行中";
    if (const std::size_t paused =
            count([](const auto& i) { return i.state == QueueState::Paused; }))
        return std::to_string(paused) + " 个下载已暂停";
    return {};
}

} // namespace vantorel::app
