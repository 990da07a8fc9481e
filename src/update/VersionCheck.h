#pragma once
// Asks the version-check service whether a newer release than ours exists.
//
// Version request: base + "/api/checkVersion?id=" + instance id + "&version=" + our version.
// The reply is "no" when the service does not know our instance id; otherwise one line of five
// fields separated by "|", cut apart with the pattern kVersionReplyPattern:
//     1 latest version       e.g. "3.10"; compared with ours part by part (VersionCompare.h)
//     2 download address     the release's address, usually a share link (ShareLink.h)
//     3 file name            the name the release is saved under (may be empty: a name is made
//                            from the version)
//     4 notice               a short plain-text remark shown above the notes (may be empty)
//     5 release notes        HTML; the last field, since only the last field may itself
//                            hold a "|"
// One trailing line break and a leading UTF-8 byte-order mark are tolerated; anything else that
// does not match is an abnormal answer.
//
// Instance-information request: base + "/api/getExample?id=" + instance id + "&data=name" +
// "&html=true". It asks whether this instance's notes are published as HTML; it is sent only
// when a newer release exists (the notes are about to be shown). A reply of exactly "true"
// (surrounding white space ignored) lets the notes be shown as HTML; any other reply, or no
// reply, shows them as plain text, so markup the service has not vouched for is never rendered.
//
// Both requests go through the direct session client: its numbered errors tell "no answer"
// (the service cannot be reached: 701 to 712) from an answer that broke off (713), and a
// status other than 200 or an unreadable reply is an abnormal answer. The check blocks; callers
// run it on a worker thread.

#include "common/Result.h"
#include "net/Transport.h"

#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel::update {

inline constexpr std::string_view kVersionReplyPattern = R"(^(.*?)\|(.*?)\|(.*?)\|(.*?)\|(.*?)$)";
inline constexpr std::string_view kUnknownInstanceText =
    "注意：服务器查询不到实例信息,请检查实例ID是否正确";
inline constexpr std::string_view kAbnormalAnswerText = "· 服务器连接异常、稍后再试！";
inline constexpr std::string_view kNoAnswerText = "· 无法连接服务器、请检查网络配置！";

struct ReleaseInfo {
    std::string latestVersion;
    std::string downloadAddress;
    std::string fileName;
    std::string notice;
    std::string notesHtml;
};

struct VersionReply {
    bool unknownInstance = false; // the reply was "no"
    ReleaseInfo release;          // the five fields otherwise
};

// base is "scheme://host[:port]".
std::string versionRequestAddress(std::string_view base);
std::string instanceInfoAddress(std::string_view base);

// Reads a version reply; an error (with the reason) when it is neither "no" nor five fields.
Result<VersionReply> parseVersionReply(std::string_view body);

// The instance-information reply allows HTML notes.
bool allowsHtmlNotes(std::string_view body);

// Notes ready for an HTML view: the notice first (escaped), then the notes, as HTML when
// allowed, else escaped and with their line breaks kept.
std::string notesDocument(const ReleaseInfo& release, bool notesAreHtml);
std::string escapeHtml(std::string_view text);

enum class VersionOutcome {
    NotConfigured,   // no version-check service is configured: nothing was asked
    UnknownInstance, // the service does not know our instance id
    UpToDate,        // the latest release is not newer than ours
    NewerRelease,    // a newer release exists
    NoAnswer,        // the service could not be reached
    AbnormalAnswer,  // the service answered, but not with a usable reply
};

struct VersionCheckResult {
    VersionOutcome outcome = VersionOutcome::NotConfigured;
    std::string currentVersion;
    ReleaseInfo release; // filled for UpToDate and NewerRelease
    bool notesAreHtml = false;
    std::string message; // the user's text for UnknownInstance, NoAnswer and AbnormalAnswer
    std::string detail;  // why, in technical terms (for the terminal); may be empty
};

struct VersionCheckOptions {
    std::string base; // empty: config::versionBase()
    net::Timeouts timeouts = net::deadlines::kVersionCheck;
    std::stop_token stop; // a requested stop ends the check early, as no answer
};

VersionCheckResult checkForUpdate(const VersionCheckOptions& options = {});

// "当前版本号v" + version, "最新版本号v" + version.
std::string currentVersionLabel(std::string_view version);
std::string latestVersionLabel(std::string_view version);

} // namespace vantorel::update
