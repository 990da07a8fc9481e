#include "download/ViewWriter.h"

#include "download/GuardedCopy.h"

#include <algorithm>

namespace vantorel::download {
namespace {

// How far ahead of its copies a worker brings in the pages of its part of the view: not far, so
// that a page the system has just cleared is still in the processor's cache when the bytes are
// copied into it (4 MiB ahead for each of eight workers measured about 10 % slower).
constexpr std::uint64_t kPrefaultBytes = 256 << 10;

} // namespace

bool ViewWriter::write(std::uint64_t at, const char* data, std::size_t bytes, std::uint64_t end) {
    return job_.throughLimit(bytes, [&](std::uint64_t offset, std::uint64_t piece) {
        return copy(at + offset, data + offset, static_cast<std::size_t>(piece), end);
    });
}

bool ViewWriter::copy(std::uint64_t at, const char* data, std::size_t bytes, std::uint64_t end) {
    if (at < begin_ || at > end_)
        begin_ = end_ = at; // a range elsewhere in the file
    if (at + bytes > end_) {
        const std::uint64_t from = end_;
        end_ = std::min(end, at + bytes + kPrefaultBytes);
        job_.file.prefault(from, end_ - from);
    }
    if (!guardedCopy(job_.file.view().data() + at, data, bytes)) {
        job_.fail(makeError("下载的临时文件被其他程序截短了，下载中止：" + job_.file.path(),
                            FailureKind::PartChanged));
        return false;
    }
    job_.progress.add(bytes);
    return true;
}

} // namespace vantorel::download
