#pragma once
// Turns a share link (an address on one of the share service's hosts) into the direct address
// of the file behind it.
//
//  1. Recognise: "http(s)://" + a share host (config::shareHosts(), compared without regard to
//     case, the whole host: "share.example.evil" is not "share.example") + "/" + path. Pages of
//     that host are fetched from config::shareBase(host) + path.
//  2. Fetch the share page with kShareUserAgent; kFramePattern gives the frame's name (group 1)
//     and its path on the same host (group 2). The path must begin with "/" (and not "//"), so
//     a page cannot send the next requests to another host.
//  3. Fetch the frame page (base + path); kParameterPattern gives four single-quoted script
//     values in page order. They feed the requests as:
//         group 1 -> "action"    group 2 -> "file_id"    group 3 -> "t"    group 4 -> "k"
//  4. POST "action=" + g1 + "&t=" + g3 + "&k=" + g4 to base + "/ajaxm.php", with
//     "Referer: " + the frame page's address. Each value is percent-encoded (all but letters,
//     digits and "-._~"), so a value holding "&" or "=" cannot add a field of its own.
//     Only when "/ajaxm.php" answers 404 (the endpoint is not there) is the query form asked
//     instead: GET base + "/ajaxs.php?action=" + g1 + "&file_id=" + g2 + "&cm=640|21&t=0." +
//     sixteen random digits (a cache breaker in the form of a random fraction), with the same
//     Referer.
//  5. The reply is parsed as JSON; "dom" and "url" must both be non-empty texts. The direct
//     address is dom + "/file/" + url; it must be an http(s) address with a host, and must not
//     be the share page or the frame page itself.
//
// Every failure of steps 1 to 5 is the one message kAddressErrorText, of kind BadAddress: the
// address the update service gave cannot be used. The resolution names the step that failed
// (ShareResolution::failedAt) so a terminal can say more. The requests go through the direct
// session client (its own default headers, redirects followed), and the resolution blocks: callers
// run it on a worker thread.

#include "common/Result.h"
#include "net/Transport.h"

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace vantorel::download {

inline constexpr std::string_view kResolvingText = "正在解析、";
inline constexpr std::string_view kAddressErrorText = "后台地址有误，需联系作者处理、";
inline constexpr std::string_view kShareUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
inline constexpr std::string_view kFramePattern =
    R"re(<iframe class="ifr2" name="(.*?)" src="(.*?)")re";
inline constexpr std::string_view kParameterPattern =
    R"(=\s'(.*?)';[\S\s]*?=\s'(.*?)'[\S\s]*?=\s'(.*?)'[\S\s]*?=\s'(.*?)')";

enum class ShareStep {
    None,      // nothing failed
    Link,      // not a share link
    SharePage, // the share page could not be fetched or has no frame
    FramePage, // the frame page could not be fetched or has no parameters
    Ajax,      // the endpoint gave no usable reply
    Reply,     // the reply is not JSON or lacks "dom"/"url", or the address is unusable
    NotHttp,   // the address to download is neither a share link nor http(s)
};

// Diagnostic wording of a step, for the terminal.
std::string_view shareStepName(ShareStep step);

// The direct address, or kAddressErrorText with the step that failed.
class ShareResolution : public Result<std::string> {
  public:
    ShareResolution(std::string direct) : Result(std::move(direct)) {}
    ShareResolution(Error error, ShareStep failedAt)
        : Result(std::move(error)), failedAt(failedAt) {}

    ShareStep failedAt = ShareStep::None;
};

struct ShareAddress {
    std::string host; // as in the link, lower case
    std::string path; // from the first "/" after the host (query included)
};

// The share host and path of `address`; none when it is not a share link.
std::optional<ShareAddress> parseShareLink(std::string_view address);
bool isShareLink(std::string_view address);

struct ShareLinkOptions {
    net::Timeouts timeouts = net::deadlines::kShareLinkStep; // each step's own
    // A requested stop ends the resolution at once, a step under way too (as a failure).
    std::stop_token stop;
};

// The direct address of the file behind the share link.
ShareResolution resolveShareLink(std::string_view link, const ShareLinkOptions& options = {});

// The address a download fetches: a share link resolved, any other http(s) address as it is.
// Anything else fails at ShareStep::NotHttp with kAddressErrorText. Every download of an address
// that came from a server (the update's, the catalogue's) goes through here.
ShareResolution downloadAddressFor(std::string_view address, const ShareLinkOptions& options = {});

} // namespace vantorel::download
