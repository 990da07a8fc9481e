#pragma once
// Which bytes prove that an address serves the same file as the bytes a download already holds.
//
// Two builds of one program often have the same length and differ in a few places only: the
// version in the header, a table of contents at the end, a signature appended last. So a proof
// compares several blocks spread over the whole file, each of kProofBlockBytes; a file no longer
// than one block is compared whole.

#include "download/SegmentScheduler.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vantorel::download {

inline constexpr std::uint64_t kProofBlockBytes = 16 * 1024;

// Blocks of a file of `length` bytes to compare, in order and apart, taken only from `held`
// (intervals in order, as a resume state lists them): as near to evenly spread positions as the
// held bytes allow. Between 3 and 8 blocks by the file's size (one per MiB); fewer when the held
// bytes cannot give them, none when no held interval is as long as a block. Blocks are
// `blockBytes` long (the whole file when it is shorter).
std::vector<ByteInterval> proofBlocks(std::uint64_t length, std::span<const ByteInterval> held,
                                      std::uint64_t blockBytes = kProofBlockBytes);

} // namespace vantorel::download
