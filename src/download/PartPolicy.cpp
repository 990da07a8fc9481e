#include "download/PartPolicy.h"

#include "download/Checkpoint.h"
#include "download/PartFile.h"

#include <string_view>

namespace vantorel::download {
namespace {

constexpr std::string_view kKeptText = "已下载的部分已保留，再次下载时从中断处继续";

} // namespace

bool partOutlives(FailureKind kind) {
    switch (kind) {
    case FailureKind::Gone:
    case FailureKind::VersionChanged:
    case FailureKind::PartChanged:
    case FailureKind::ChecksumMismatch:
    case FailureKind::Cancelled:
        return false;
    default:
        return true;
    }
}

Error endWithoutFile(PartFile& file, Checkpoint& checkpoint, const PartHistory& history,
                     RunStop stop, std::optional<Error> failure) {
    if (stop == RunStop::Cancel)
        return makeError("下载已取消", FailureKind::Cancelled);
    // Under interrupt(), a failure that is the stop itself says nothing about the part.
    const bool outlives = !failure || partOutlives(failure->kind) ||
                          (stop == RunStop::Interrupt && failure->kind == FailureKind::Cancelled);
    bool resumable = false;
    if (!history.touched) {
        if (history.foreign || (history.resumable && outlives))
            file.keep();
        resumable = history.resumable && outlives;
    } else if (outlives && checkpoint.now() && checkpoint.provable()) {
        file.keep();
        resumable = true;
    }
    Error error = stop == RunStop::Interrupt
                      ? makeError(resumable ? "下载已中断，再次下载同一文件时将从中断处继续"
                                            : "下载已中断，下次将重新下载",
                                  FailureKind::Cancelled)
                      : std::move(*failure);
    if (resumable && stop == RunStop::None)
        error.message += "，" + std::string(kKeptText);
    error.partKept = resumable;
    return error;
}

} // namespace vantorel::download
