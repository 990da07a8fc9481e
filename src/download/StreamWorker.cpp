#include "download/StreamWorker.h"

#include "download/ReplyChecks.h"
#include "net/ReplyHead.h"
#include "net/Transport.h"

#include <span>

namespace vantorel::download {

void StreamWorker::run() {
    const auto outcome = transfer_.get(
        job_.url, requestHeaders(), [this](std::span<const char> data) { return onBody(data); },
        true);
    const bool completed = outcome == net::DownloadConnection::Outcome::Completed;
    if (job_.stopping())
        return;
    const net::ReplyHead& head = transfer_.head();
    if (writeError_)
        job_.fail(*writeError_);
    else if (head.length.bad())
        job_.fail(head.length.problem());
    else if (!head.complete)
        job_.fail(completed ? makeError(std::string(net::kUnendedHeadText)) : transfer_.failure());
    else if (head.status != 200 && head.status != 0)
        job_.fail(httpError(head.status));
    else if (problem_)
        job_.fail(*problem_);
    else if (!completed)
        job_.fail(transfer_.failure());
    else if (known_ && next_ != job_.total)
        job_.fail("文件不完整：收到 " + std::to_string(next_) + " 字节，应有 " +
                  std::to_string(job_.total) + " 字节");
}

std::size_t StreamWorker::onBody(std::span<const char> data) {
    const std::size_t bytes = data.size();
    const net::ReplyHead& head = transfer_.head();
    if (head.status != 200)
        return 0;
    if (known_) {
        if (!checked_) {
            const auto length = head.length.value();
            if (!provesSameVersion(job_.validators, head) ||
                transfer_.redirectedAwayFrom(job_.url) ||
                (!head.coded() && length && *length != job_.total)) {
                problem_ = makeError(std::string(kChangedText), FailureKind::VersionChanged);
                return 0;
            }
            checked_ = true;
        }
        if (bytes > job_.total - next_) {
            problem_ = makeError("服务器发送的数据多于文件的长度");
            return 0;
        }
        if (!writer_.write(next_, data.data(), bytes, job_.total))
            return 0;
        job_.ledger.record(job_.primary, {next_, next_ + bytes});
    } else {
        const bool passed =
            job_.throughLimit(bytes, [&](std::uint64_t offset, std::uint64_t piece) {
                Status written = job_.file.append(std::as_bytes(data.subspan(
                    static_cast<std::size_t>(offset), static_cast<std::size_t>(piece))));
                if (!written) {
                    writeError_ = written.error();
                    return false;
                }
                job_.progress.add(piece);
                return true;
            });
        if (!passed)
            return 0;
    }
    next_ += bytes;
    return bytes;
}

} // namespace vantorel::download
