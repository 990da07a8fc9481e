#pragma once
// Metalink documents (RFC 5854, namespace urn:ietf:params:xml:ns:metalink): the files a document
// describes, each with the addresses that serve it, its length and its digests, so that it is
// fetched from all of them at once and held to what the document says.
//
// The document is read by expat, in the metalink namespace only (elements of other namespaces
// are passed over). Whatever the document says is input from outside:
// - a document with a DOCTYPE is refused, so no entity is ever declared or expanded, and so is
//   one over kMaxMetalinkBytes;
// - a file's name must stay inside the folder it is saved in: a relative path of plain names
//   ("a/b.iso" makes the folder "a"), no absolute path, "..", ".", empty segment, backslash or
//   control character; two files of one name are refused too;
// - addresses other than http(s) are passed over; a file left without one is refused;
// - of the whole-file digests, the strongest known type is kept; unknown types are passed over,
//   a known type with a malformed value refuses the document.

#include "common/Result.h"
#include "download/Checksum.h"
#include "download/PieceHashes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::download {

inline constexpr std::size_t kMaxMetalinkBytes = 4 << 20;
inline constexpr std::string_view kMetalinkMediaType = "application/metalink4+xml";
inline constexpr std::string_view kMetalinkNamespace = "urn:ietf:params:xml:ns:metalink";

// Whether an address's path ends in ".meta4", the name metalink documents go by.
bool namedMetalink(std::string_view url);

struct MetalinkFile {
    std::string name;              // relative path, segments separated by "/"
    std::vector<std::string> urls; // http(s), by priority (lowest first), then in document order
    std::optional<std::uint64_t> size;
    std::optional<Checksum> checksum; // of the whole file
    std::optional<PieceHashes> pieces;
};

// The files of the document, in document order; a document refused as above fails with
// FailureKind::BadAddress and says why.
Result<std::vector<MetalinkFile>> parseMetalink(std::string_view document);

} // namespace vantorel::download
