#pragma once
// How a catalogue record is shown: the size in mebibytes, the found count, the detail labels,
// the details text copied to the clipboard, the logo address and the download file name.

#include "catalogue/CatalogueRecord.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel::catalogue {

// bytes / 1048576 with at most two decimals, trailing zeros dropped, then "MB":
// 1048576 -> "1MB", 524288 -> "0.5MB", 123456789 -> "117.74MB". A size that is not a decimal
// number of bytes is shown as it came.
std::string sizeDisplay(std::string_view filesize);

std::string foundCountText(std::size_t count); // "找到：" + n + " 项"

std::string nameLabel(const CatalogueRecord& r);    // "应用程序：" + displayname
std::string versionLabel(const CatalogueRecord& r); // "版本：" + versionname
std::string sizeLabel(const CatalogueRecord& r);    // "大小：" + size display form
std::string dateLabel(const CatalogueRecord& r);    // "更新：" + publishdate

// Nine lines joined by "\r\n": "ID：", "应用名：", "包名：", "大小：", "版本号：", "发布日期：",
// "图标地址：" (the logo reference as the reply gives it), "下载链接1：", "下载链接2：".
std::string detailsText(const CatalogueRecord& r);

// base + "/softmgr/logo/48/" + logo48
std::string logoAddress(std::string_view logoBase, std::string_view logo48);

// displayname + "_" + versionname + ".exe", made safe to create inside one folder
// (safeFileName, repaired).
std::string downloadFileName(const CatalogueRecord& r);

} // namespace vantorel::catalogue
