#pragma once
// Proves that an address serves the download's file before a byte of it is kept: the same length,
// and the blocks ProofBlocks.h chooses equal to the bytes already held, or (while too few are
// held) to the same blocks fetched from a source already proven.

#include "common/Result.h"
#include "download/DownloadRun.h"
#include "net/DownloadConnection.h"

#include <cstddef>
#include <string>

namespace vantorel::download {

// The text that tells that `candidate` serves another file than `reference`, and which sources
// the download goes on with ("下载链接2 的文件与下载链接1 不同，已只用下载链接1").
std::string differentFileText(const std::string& candidate, const std::string& reference,
                              const std::string& kept);

// `block` of the file at `url`, over `transfer`: the reply must be exactly that range of a file
// of the download's length (another length is another file, FailureKind::NotSameFile).
Result<std::string> fetchBlock(DownloadRun& job, net::DownloadConnection& transfer,
                               const std::string& url, const Validators& validators,
                               ByteInterval block);

// Probes source `id` at `url` and compares its blocks; on success it joins the download's
// proven sources. A source that serves other bytes fails with FailureKind::NotSameFile; one that
// cannot be asked fails with the reason (the download goes on without it either way).
Status proveSource(DownloadRun& job, std::size_t id, const std::string& url);

// Whether `url` serves the bytes the part holds in `held` (no other source needed): NotSameFile
// when it serves others; when the held bytes are too few to prove anything, fails with
// FailureKind::Other.
Status proveAgainstPart(DownloadRun& job, const std::string& url,
                        std::span<const ByteInterval> held);

} // namespace vantorel::download
