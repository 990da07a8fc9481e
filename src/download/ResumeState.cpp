#include "download/ResumeState.h"

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    const std::string text = json.dump();
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return makeError("无法保存下载进度：" + path + "（" + std::strerror(errno) + "）");
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == text.size() && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return makeError("无法保存下载进度：" + path + "（" + std::strerror(ok ? errno : error) +
                         "）");
    }
    return {};
}

} // namespace vantorel::download
