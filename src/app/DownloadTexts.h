#pragma once
// How a listed download reads in the windows: its size, speed and time left, and the few words
// the main window's narrow progress label shows for it.

#include "download/DownloadQueue.h"

#include <string>

namespace vantorel::app {

// The whole file in the catalogue's form ("8MB", "0.5MB"); "未知" while the server has not said.
std::string sizeText(const download::QueueItem& item);

// "850 KB/s", "3.2 MB/s" while bytes arrive; empty otherwise.
std::string speedText(const download::QueueItem& item);

// "02:05", "1:02:03" while the speed and the total are known; empty otherwise.
std::string timeLeftText(const download::QueueItem& item);

// What 标签_进度 shows: the percent (or the bytes while the total is unknown), what a stalled
// download waits for, "正在解析、" while a share link is resolved, the state of a download that
// is not running, and the outcome at the end. `brief`: in fewer words, for when the whole does
// not fit the label.
std::string progressLabelText(const download::QueueItem& item, bool brief = false);

// "N 个下载已暂停": what 标签_进度 says at start while the list holds paused downloads.
std::string pausedAtStartText(std::size_t paused);

} // namespace vantorel::app
