#pragma once
// A file's stamp as the files this program keeps beside its downloads write it (the download
// list, a resume state): the same four fields in both.

#include "download/DownloadTarget.h"

#include <nlohmann/json.hpp>

#include <cstdint>

namespace vantorel::download {

inline nlohmann::json stampJson(const FileStamp& stamp) {
    return {{"device", stamp.device},
            {"inode", stamp.inode},
            {"size", stamp.size},
            {"modified", stamp.modifiedNs}};
}

// Throws nlohmann::json's exceptions for a malformed stamp, as the readers of those files expect.
inline FileStamp stampFrom(const nlohmann::json& json) {
    return FileStamp{json.at("device").get<std::uint64_t>(), json.at("inode").get<std::uint64_t>(),
                     json.at("size").get<std::uint64_t>(), json.at("modified").get<std::int64_t>()};
}

} // namespace vantorel::download
