#include "download/ReplyChecks.h"

#include "net/TransferFailure.h"

namespace vantorel::download {

FailureKind statusKind(long status) {
    if (status == 408 || status == 429 || status >= 500)
        return FailureKind::ServerBusy;
    if (status == 404 || status == 410)
        return FailureKind::Gone;
    if (status == 401 || status == 403)
        return FailureKind::Expired;
    if (status == 407)
        return FailureKind::Proxy;
    return FailureKind::Other;
}

std::string httpMessage(long status) {
    switch (statusKind(status)) {
    case FailureKind::Gone:
        return "服务器上没有这个文件（HTTP " + std::to_string(status) + "）";
    case FailureKind::Proxy:
        return net::proxyRefusedText({});
    case FailureKind::Expired:
        return "服务器拒绝了下载请求（HTTP " + std::to_string(status) + "）";
    default:
        return "服务器返回了错误（HTTP " + std::to_string(status) + "）";
    }
}

Error httpError(long status) {
    return makeError(httpMessage(status), statusKind(status));
}

Validators validatorsOf(const net::ReplyHead& head) {
    return {head.etag, head.lastModified};
}

bool provesSameVersion(const Validators& probe, const net::ReplyHead& reply) {
    return (probe.etag.empty() || reply.etag == probe.etag) &&
           (probe.lastModified.empty() || reply.lastModified == probe.lastModified);
}

} // namespace vantorel::download
