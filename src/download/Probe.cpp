#include "download/Probe.h"

#include "common/Text.h"
#include "download/Announced.h"
#include "download/Metalink.h"
#include "download/ReplyChecks.h"
#include "download/Staging.h"
#include "net/DownloadConnection.h"
#include "net/ReplyHead.h"
#include "net/Transport.h"

namespace vantorel::download {
namespace {

// Asks for the file with `headerBlock` and stops as soon as the reply's head is in: the head
// is all the probe needs, so a body cut short after it does not matter.
Result<Probe> askHead(DownloadRun& job, const std::string& url, const std::string& headerBlock,
                      net::ReplyHead& head, bool background) {
    net::DownloadConnection transfer(job.connectionRules(background));
    const auto outcome = transfer.get(
        url, headerBlock, [](std::span<const char>) { return std::size_t(0); }, false);
    if (job.cancelled())
        return makeError("下载已取消", FailureKind::Cancelled);
    if (background && job.settled())
        return makeError("下载已结束", FailureKind::Cancelled);
    head = transfer.head();
    if (head.length.bad())
        return makeError(head.length.problem());
    if (head.complete && head.status / 100 == 3)
        return transfer.failure(); // a redirect that could not be followed
    if (!head.complete)
        return outcome == net::DownloadConnection::Outcome::Completed
                   ? makeError(std::string(net::kUnendedHeadText))
                   : transfer.failure();
    Probe probe;
    probe.length = head.length.value();
    probe.coded = head.coded();
    probe.rangesRefused = equalsIgnoreCase(head.acceptRanges, "none");
    probe.webPage = startsWithIgnoreCase(head.contentType, "text/html");
    probe.metalink = startsWithIgnoreCase(head.contentType, kMetalinkMediaType) ||
                     (namedMetalink(url) && head.contentType.find("xml") != std::string::npos);
    probe.validators = validatorsOf(head);
    const std::string effective = transfer.effectiveUrl();
    probe.url = effective.empty() ? url : effective;
    probe.wait = transfer.replyWait();
    probe.duplicates = duplicatesIn(head.links);
    if (!probe.coded)
        probe.digest = strongestDigest(head.digest, head.reprDigest);
    return probe;
}

// Learns the file's length and validators from a request for its first byte: a server that
// serves ranges tells the length in Content-Range and sends one byte, where a plain request
// would start the whole body only to be cut off (on a fast link, megabytes already on the way).
// A server that ignores the range answers as to a plain request; unless it says it accepts
// ranges (a cache that has not stored the file yet may answer so), the file comes as one
// stream. One whose range reply is not the byte asked for is asked again plainly, and gets no
// range requests.
Result<Probe> firstLook(DownloadRun& job, const std::string& url, bool background) {
    net::ReplyHead head;
    auto found = askHead(job, url, requestHeaders({0, 0}), head, background);
    if (!found)
        return found;
    if (head.status == 200) {
        found->rangesRefused = !equalsIgnoreCase(head.acceptRanges, "bytes");
        return found;
    }
    if (head.status == 206) {
        const auto range = net::parseContentRange(head.contentRange);
        if (range && range->first == 0 && range->last == 0 && range->total && *range->total > 0 &&
            !head.coded()) {
            found->length = range->total;
            found->coded = false;
            return found;
        }
    } else if (head.status == 416) {
        // Not even byte 0 exists: an empty file.
        if (net::unsatisfiedTotal(head.contentRange) == 0u) {
            found->length = 0;
            return found;
        }
    } else {
        return httpError(head.status);
    }
    found = askHead(job, url, requestHeaders(), head, background);
    if (found && head.status != 200)
        return httpError(head.status);
    if (found)
        found->rangesRefused = true;
    return found;
}

} // namespace

Result<Probe> probe(DownloadRun& job, const std::string& url, bool background) {
    auto found = firstLook(job, url, background);
    if (found && found->webPage && job.request.refuseWebPages)
        return makeError("文件地址指向一个网页：" + url, FailureKind::WebPage);
    if (found && found->metalink)
        return makeError("地址提供的是 metalink 文件：" + url, FailureKind::Metalink);
    return found;
}

} // namespace vantorel::download
