#include "app/DownloadTexts.h"

#include "common/ByteSize.h"
#include "common/Duration.h"
#include "download/ShareLink.h"

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
    case QueueState::Waiting:
    case QueueState::Paused:
        break;
    }
    return std::string(download::queueStateText(item.state));
}

std::string pausedAtStartText(std::size_t paused) {
    return std::to_string(paused) + " 个下载已暂停";
}

} // namespace vantorel::app
