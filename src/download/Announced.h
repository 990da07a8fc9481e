#pragma once
// What a server announces about its file in a reply's head, beyond the reply itself: other
// addresses of the same file (Link: <URL>; rel=duplicate, RFC 6249) and the whole file's digest
// (Digest, RFC 3230; Repr-Digest, RFC 9530). Content-Digest is not read: it is the digest of the
// reply's body, which for a range is a piece of the file.
//
// Both are only claims. A duplicate becomes a source like a mirror the user gave, and takes part
// only once it proves it serves the same bytes (SourceProof.h); a digest holds the file as the
// user's checksum does, so a wrong one costs the download, never puts a wrong file in place.

#include "download/Checksum.h"
#include "download/Sources.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::download {

// Mirrors announced by one reply are taken up to this many: each costs a proof.
inline constexpr std::size_t kMaxDuplicates = 5;

// The absolute http(s) addresses that `links` (the values of a reply's Link headers) name with
// rel=duplicate, in the order given, each once; links of other relations are skipped, and a
// header that is not well-formed is read only up to where it goes wrong.
std::vector<std::string> duplicatesIn(std::span<const std::string> links);

// The strongest digest (SHA-512, SHA-256, SHA-1, MD5 in this order) of those `digest` (a Digest
// header's value: "SHA-256=<base64>, MD5=<base64>") and `reprDigest` (a Repr-Digest header's
// value: "sha-256=:<base64>:") announce; one of another algorithm, or not well-formed, is
// skipped.
std::optional<Checksum> strongestDigest(std::string_view digest, std::string_view reprDigest);

// Adds `addresses` as untried sources, named "镜像" + a number no source has yet, leaving out
// any source has already (with or without credentials) and any past kMaxDuplicates. Gives what
// the user is told, so that the names mean something: each name with its address; empty when
// none was added.
std::string addDuplicates(Sources& sources, std::span<const std::string> addresses);

} // namespace vantorel::download
