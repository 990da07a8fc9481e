#include "catalogue/DisplayForms.h"

#include "common/ByteSize.h"
#include "common/FileName.h"

#include <charconv>
#include <cstdint>

namespace vantorel::catalogue {

std::string sizeDisplay(std::string_view filesize) {
    std::uint64_t bytes = 0;
    auto [end, ec] = std::from_chars(filesize.data(), filesize.data() + filesize.size(), bytes);
    if (filesize.empty() || ec != std::errc() || end != filesize.data() + filesize.size())
        return std::string(filesize);
    return formatBytes(static_cast<double>(bytes), ByteStyle::MebibytesRounded);
}

std::string foundCountText(std::size_t count) {
    return "找到：" + std::to_string(count) + " 项";
}

std::string nameLabel(const CatalogueRecord& r) {
    return "应用程序：" + r.displayname;
}
std::string versionLabel(const CatalogueRecord& r) {
    return "版本：" + r.versionname;
}
std::string sizeLabel(const CatalogueRecord& r) {
    return "大小：" + sizeDisplay(r.filesize);
}
std::string dateLabel(const CatalogueRecord& r) {
    return "更新：" + r.publishdate;
}

std::string detailsText(const CatalogueRecord& r) {
    return "ID：" + r.hash + "\r\n应用名：" + r.displayname + "\r\n包名：" + r.filename +
           "\r\n大小：" + sizeDisplay(r.filesize) + "\r\n版本号：" + r.versionname +
           "\r\n发布日期：" + r.publishdate + "\r\n图标地址：" + r.logo48 + "\r\n下载链接1：" +
           r.url + "\r\n下载链接2：" + r.https;
}

std::string logoAddress(std::string_view logoBase, std::string_view logo48) {
    return std::string(logoBase) + "/softmgr/logo/48/" + std::string(logo48);
}

std::string downloadFileName(const CatalogueRecord& r) {
    return safeFileName(r.displayname + "_" + r.versionname + ".exe");
}

} // namespace vantorel::catalogue
