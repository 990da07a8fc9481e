#pragma once
// How a listed download reads in the windows: its size, speed and time left, and the few words
// the main window's narrow progress label shows for it.

#include "download/DownloadQueue.h"

#include <string>
#include <vector>

namespace vantorel::app {

// The whole file in the catalogue's form ("8MB", "0.5MB"); "未知" while the server has not said.
std::string sizeText(const download::QueueItem& item);

// "850 KB/s", "3.2 MB/s" while bytes arrive; empty otherwise.
std::string speedText(const download::QueueItem& item);

// "02:05", "1:02:03" while the speed and the total are known; empty otherwise.
std::string timeLeftText(const download::QueueItem& item);

// What 标签_进度 shows: the percent (or the bytes while the total is unknown), what a stalled
// download waits for, "正在解析、" while a share link is resolved, the state of a download that
// is not running, and the outcome at the end (a failure's "下载失败！", or 已取消). `brief`: in
// fewer words, for when the whole does not fit the label.
std::string progressLabelText(const download::QueueItem& item, bool brief = false);

// What 标签_进度 says while it shows no one download: "N 个下载进行中" while any waits or runs,
// else "N 个下载已暂停" while any is paused, else nothing.
std::string queueSummaryText(const std::vector<download::QueueItem>& items);

} // namespace vantorel::app
