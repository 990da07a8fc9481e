#include "download/ReplyChecks.h"

#include "download/DownloadRun.h"
#include "net/TransferFailure.h"

namespace vantorel::download {

bool goneStatus(long status) {
    return status == 404 || status == 410;
}

std::string httpMessage(long status) {
    if (status == 404 || status == 410)
        return "服务器上没有这个文件（HTTP " + std::to_string(status) + "）";
    if (status == 407)
        return net::proxyRefusedText({});
    if (status == 401 || status == 403)
        return "服务器拒绝了下载请求（HTTP " + std::to_string(status) + "）";
    return "服务器返回了错误（HTTP " + std::to_string(status) + "）";
}

Error httpError(long status) {
    return makeError(httpMessage(status), goneStatus(status) || status == 407 ? kFinalError : 0);
}

bool retryableStatus(long status) {
    return status == 408 || status == 429 || status >= 500;
}

Validators validatorsOf(const net::ReplyHead& head) {
    return {head.etag, head.lastModified};
}

bool provesSameVersion(const Validators& probe, const net::ReplyHead& reply) {
    return (probe.etag.empty() || reply.etag == probe.etag) &&
           (probe.lastModified.empty() || reply.lastModified == probe.lastModified);
}

} // namespace vantorel::download
