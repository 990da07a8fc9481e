#include "download/ResumeState.h"

#include "common/ReplaceFile.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace vantorel::download {

std::string Validators::ifRange() const {
    return strongEtag() ? etag : lastModified;
}

bool Validators::contradictedBy(const Validators& reply) const {
    return (!etag.empty() && !reply.etag.empty() && etag != reply.etag) ||
           (!lastModified.empty() && !reply.lastModified.empty() &&
            lastModified != reply.lastModified);
}

bool ResumeState::sameVersion(const Validators& now, std::uint64_t lengthNow) const {
    if (lengthNow != length)
        return false;
    if (validators.strongEtag())
        return now.etag == validators.etag;
    return !validators.lastModified.empty() && now.lastModified == validators.lastModified;
}

std::uint64_t ResumeState::completeBytes() const {
    std::uint64_t bytes = 0;
    for (const ByteInterval& interval : complete)
        bytes += interval.size();
    return bytes;
}

std::optional<ResumeState> loadResumeState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json json = nlohmann::json::parse(text.str(), nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    try {
        ResumeState state;
        state.url = json.at("url").get<std::string>();
        state.finalUrl = json.at("finalUrl").get<std::string>();
        state.length = json.at("length").get<std::uint64_t>();
        state.validators.etag = json.at("etag").get<std::string>();
        state.validators.lastModified = json.at("lastModified").get<std::string>();
        std::uint64_t previousEnd = 0;
        for (const auto& pair : json.at("complete")) {
            const ByteInterval interval{pair.at(0).get<std::uint64_t>(),
                                        pair.at(1).get<std::uint64_t>()};
            // In order, apart, inside the file: anything else is not ours.
            if (interval.empty() || interval.begin < previousEnd || interval.end > state.length)
                return std::nullopt;
            previousEnd = interval.end;
            state.complete.push_back(interval);
        }
        return state;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

Status saveResumeState(const std::string& path, const ResumeState& state) {
    nlohmann::json complete = nlohmann::json::array();
    for (const ByteInterval& interval : state.complete)
        complete.push_back({interval.begin, interval.end});
    const nlohmann::ordered_json json = {{"url", state.url},
                                         {"finalUrl", state.finalUrl},
                                         {"length", state.length},
                                         {"etag", state.validators.etag},
                                         {"lastModified", state.validators.lastModified},
                                         {"complete", complete}};
    if (Status replaced = replaceFile(path, json.dump()); !replaced)
        return makeError("无法保存下载进度：" + path + "（" + replaced.error().message + "）");
    return {};
}

} // namespace vantorel::download
