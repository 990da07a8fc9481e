#pragma once
// Digests of a file's pieces of one length (a metalink file lists them): a piece whose bytes do
// not have its digest is known wrong on its own, so only it is fetched again, and the source
// that sent it can be named.

#include "common/Result.h"
#include "download/Checksum.h"
#include "download/SegmentScheduler.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantorel::download {

struct PieceHashes {
    DigestType type = DigestType::Sha256;
    std::uint64_t length = 0;     // of every piece but the last, which may be shorter
    std::vector<std::string> hex; // one per piece, in order, lower case

    bool operator==(const PieceHashes&) const = default;
    // Whether they describe a file of `total` bytes: one digest per piece, no more, no fewer.
    bool fit(std::uint64_t total) const;
    ByteInterval piece(std::size_t index, std::uint64_t total) const;
};

// The pieces of the file at `path` (`total` bytes) whose bytes do not have their digest, in
// order. Digests that do not fit the file fail with FailureKind::ChecksumMismatch.
Result<std::vector<ByteInterval>> failedPieces(const std::string& path, const PieceHashes& pieces,
                                               std::uint64_t total);

} // namespace vantorel::download
