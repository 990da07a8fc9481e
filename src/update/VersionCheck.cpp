#include "update/VersionCheck.h"

#include "common/Config.h"
#include "common/Version.h"
#include "net/DirectSessionClient.h"
#include "script/RegexObject.h"
#include "update/VersionCompare.h"

namespace vantorel::update {
namespace {

std::string_view trimWhite(std::string_view text) {
    constexpr std::string_view kWhite = " \t\r\n";
    std::size_t first = text.find_first_not_of(kWhite);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhite) - first + 1);
}

// One exchange with the version service, classified the way the user is told about it.
struct ServiceReply {
    bool ok = false;
    VersionOutcome failure = VersionOutcome::NoAnswer;
    std::string text;
    std::string detail;
};

ServiceReply ask(const std::string& address, const VersionCheckOptions& options) {
    ServiceReply result;
    net::FetchRequest request;
    request.url = address;
    request.timeouts = options.timeouts;
    request.stop = options.stop;
    request.maxBodyBytes = 1u << 20;
    auto reply = net::DirectSessionClient().fetch(request);
    if (!reply) {
        // A reply that broke off came from a server that answered; everything else means the
        // service was not reached.
        result.failure =
            reply.error().code == 713 ? VersionOutcome::AbnormalAnswer : VersionOutcome::NoAnswer;
        result.detail = messageWithDetail(reply.error());
        return result;
    }
    if (reply->status != 200) {
        result.failure = VersionOutcome::AbnormalAnswer;
        result.detail =
            reply->statusLine.empty() ? "HTTP " + std::to_string(reply->status) : reply->statusLine;
        return result;
    }
    auto text = net::DirectSessionClient::text(*reply);
    if (!text) {
        result.failure = VersionOutcome::AbnormalAnswer;
        result.detail = text.error().message;
        return result;
    }
    result.ok = true;
    result.text = std::move(*text);
    return result;
}

} // namespace

std::string versionRequestAddress(std::string_view base) {
    return std::string(base) + "/api/checkVersion?id=" + kInstanceId + "&version=" + kVersion;
}

std::string instanceInfoAddress(std::string_view base) {
    return std::string(base) + "/api/getExample?id=" + kInstanceId + "&data=name" + "&html=true";
}

Result<VersionReply> parseVersionReply(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    if (body.ends_with("\r\n"))
        body.remove_suffix(2);
    else if (body.ends_with("\n"))
        body.remove_suffix(1);

    VersionReply reply;
    if (trimWhite(body) == "no") {
        reply.unknownInstance = true;
        return reply;
    }
    script::RegexObject pattern;
    if (!pattern.create(kVersionReplyPattern))
        return pattern.lastError();
    auto matches = pattern.tryExecute(body);
    if (!matches)
        return matches.error();
    if (*matches != 1)
        return makeError("版本回复不是五个以“|”分隔的字段");
    reply.release.latestVersion = std::string(trimWhite(pattern.submatch_text(0, 1)));
    reply.release.downloadAddress = std::string(trimWhite(pattern.submatch_text(0, 2)));
    reply.release.fileName = std::string(trimWhite(pattern.submatch_text(0, 3)));
    reply.release.notice = pattern.submatch_text(0, 4);
    reply.release.notesHtml = pattern.submatch_text(0, 5);
    if (!isVersion(reply.release.latestVersion))
        return makeError("版本回复中的最新版本号无效：" + reply.release.latestVersion);
    return reply;
}

bool allowsHtmlNotes(std::string_view body) {
    return trimWhite(body) == "true";
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string notesDocument(const ReleaseInfo& release, bool notesAreHtml) {
    std::string document;
    if (!trimWhite(release.notice).empty())
        document += "<p><b>" + escapeHtml(release.notice) + "</b></p>";
    if (notesAreHtml) {
        document += release.notesHtml;
    } else {
        std::string plain = escapeHtml(release.notesHtml);
        std::string withBreaks;
        for (char c : plain) {
            if (c == '\n')
                withBreaks += "<br>";
            else if (c != '\r')
                withBreaks.push_back(c);
        }
        document += "<p>" + withBreaks + "</p>";
    }
    return document;
}

VersionCheckResult checkForUpdate(const VersionCheckOptions& options) {
    VersionCheckResult result;
    result.currentVersion = kVersion;
    const std::string base = options.base.empty() ? config::versionBase() : options.base;
    if (base.empty())
        return result;

    ServiceReply version = ask(versionRequestAddress(base), options);
    if (!version.ok) {
        result.outcome = version.failure;
        result.message = std::string(
            version.failure == VersionOutcome::NoAnswer ? kNoAnswerText : kAbnormalAnswerText);
        result.detail = version.detail;
        return result;
    }
    auto parsed = parseVersionReply(version.text);
    if (!parsed) {
        result.outcome = VersionOutcome::AbnormalAnswer;
        result.message = std::string(kAbnormalAnswerText);
        result.detail = parsed.error().message;
        return result;
    }
    if (parsed->unknownInstance) {
        result.outcome = VersionOutcome::UnknownInstance;
        result.message = std::string(kUnknownInstanceText);
        return result;
    }
    result.release = std::move(parsed->release);
    if (!isNewerVersion(result.release.latestVersion, result.currentVersion)) {
        result.outcome = VersionOutcome::UpToDate;
        return result;
    }
    result.outcome = VersionOutcome::NewerRelease;
    ServiceReply info = ask(instanceInfoAddress(base), options);
    result.notesAreHtml = info.ok && allowsHtmlNotes(info.text);
    return result;
}

std::string currentVersionLabel(std::string_view version) {
    return "当前版本号v" + std::string(version);
}

std::string latestVersionLabel(std::string_view version) {
    return "最新版本号v" + std::string(version);
}

} // namespace vantorel::update
