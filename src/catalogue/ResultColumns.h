#pragma once
// The columns of the result list, left to right: title, width in pixels, and the cell text an
// entry gives it. The window's header and the rows it fills are both made from this one list,
// so a column cannot have a title without cells or cells without a title.

#include "catalogue/CatalogueRecord.h"
#include "catalogue/DisplayForms.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel::catalogue {

struct ResultColumn {
    std::string_view title;
    int width = 0;
    // The cell of the entry at `index` (0-based) of the result.
    std::string (*cell)(const CatalogueRecord& entry, std::size_t index) = nullptr;
};

// "序号" counts from 1; "大小" is the size display form; "图标地址" is logo48 as the reply gives
// it.
inline constexpr std::array<ResultColumn, 10> kResultColumns{{
    {"序号", 40, [](const CatalogueRecord&, std::size_t i) { return std::to_string(i + 1); }},
    {"应用名", 130, [](const CatalogueRecord& r, std::size_t) { return r.displayname; }},
    {"包名", 120, [](const CatalogueRecord& r, std::size_t) { return r.filename; }},
    {"大小", 90, [](const CatalogueRecord& r, std::size_t) { return sizeDisplay(r.filesize); }},
    {"ID", 80, [](const CatalogueRecord& r, std::size_t) { return r.hash; }},
    {"下载链接1", 200, [](const CatalogueRecord& r, std::size_t) { return r.url; }},
    {"发布日期", 80, [](const CatalogueRecord& r, std::size_t) { return r.publishdate; }},
    {"版本号", 90, [](const CatalogueRecord& r, std::size_t) { return r.versionname; }},
    {"下载链接2", 200, [](const CatalogueRecord& r, std::size_t) { return r.https; }},
    {"图标地址", 120, [](const CatalogueRecord& r, std::size_t) { return r.logo48; }},
}};

} // namespace vantorel::catalogue
