#include "download/ResumeState.h"

#include "common/ReplaceFile.h"
#include "common/SmallFile.h"
#include "download/StampJson.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace vantorel::download {
namespace {

// A state is a few hundred bytes plus some per gap in the file; anything this large is not one.
constexpr std::uint64_t kMaxStateBytes = 4 << 20;

} // namespace

std::string Validators::ifRange() const {
    return strongEtag() ? etag : lastModified;
}

bool Validators::contradictedBy(const Validators& reply) const {
    return (!etag.empty() && !reply.etag.empty() && etag != reply.etag) ||
           (!lastModified.empty() && !reply.lastModified.empty() &&
            lastModified != reply.lastModified);
}

bool Validators::sameVersionAs(const Validators& now) const {
    if (strongEtag())
        return now.etag == etag;
    return !lastModified.empty() && now.lastModified == lastModified;
}

const SourceRecord* ResumeState::sourceFor(std::string_view address) const {
    const std::string key = withoutCredentials(address);
    const auto found = std::find_if(sources.begin(), sources.end(),
                                    [&](const SourceRecord& s) { return s.address == key; });
    return found == sources.end() ? nullptr : &*found;
}

std::uint64_t ResumeState::completeBytes() const {
    std::uint64_t bytes = 0;
    for (const ByteInterval& interval : complete)
        bytes += interval.size();
    return bytes;
}

std::optional<ResumeState> loadResumeState(const std::string& path) {
    const auto text = readSmallFile(path, kMaxStateBytes);
    if (!text)
        return std::nullopt;
    const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    try {
        ResumeState state;
        // A state written before addresses were saved without credentials may still hold them.
        state.url = withoutCredentials(json.at("url").get<std::string>());
        state.finalUrl = withoutCredentials(json.at("finalUrl").get<std::string>());
        state.length = json.at("length").get<std::uint64_t>();
        state.validators.etag = json.at("etag").get<std::string>();
        state.validators.lastModified = json.at("lastModified").get<std::string>();
        if (const auto listed = json.find("sources"); listed != json.end()) {
            for (const auto& source : *listed)
                state.sources.push_back(
                    {withoutCredentials(source.at("address").get<std::string>()),
                     withoutCredentials(source.at("url").get<std::string>()),
                     {source.at("etag").get<std::string>(),
                      source.at("lastModified").get<std::string>()}});
        }
        if (state.sources.empty())
            state.sources.push_back({state.url, state.finalUrl, state.validators});
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
        if (const auto replaces = json.find("replaces");
            replaces != json.end() && !replaces->is_null())
            state.replaces = stampFrom(*replaces);
        return state;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

Status saveResumeState(const std::string& path, const ResumeState& state) {
    nlohmann::json complete = nlohmann::json::array();
    for (const ByteInterval& interval : state.complete)
        complete.push_back({interval.begin, interval.end});
    nlohmann::ordered_json sources = nlohmann::ordered_json::array();
    for (const SourceRecord& source : state.sources)
        sources.push_back({{"address", withoutCredentials(source.address)},
                           {"url", withoutCredentials(source.url)},
                           {"etag", source.validators.etag},
                           {"lastModified", source.validators.lastModified}});
    const nlohmann::ordered_json json = {
        {"url", withoutCredentials(state.url)},
        {"finalUrl", withoutCredentials(state.finalUrl)},
        {"length", state.length},
        {"etag", state.validators.etag},
        {"lastModified", state.validators.lastModified},
        {"sources", sources},
        {"complete", complete},
        {"replaces", state.replaces ? stampJson(*state.replaces) : nlohmann::json()}};
    if (Status replaced = replaceFile(path, json.dump(), 0600); !replaced)
        return makeError("无法保存下载进度：" + path + "（" + replaced.error().message + "）");
    return {};
}

} // namespace vantorel::download
