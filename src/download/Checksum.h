#pragma once
// A digest a file is held to: given by the user ("sha-256=HEX", the form download tools share),
// announced by a server (Digest, Repr-Digest) or listed in a metalink file. A file that does not
// have it is never saved under its name.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantorel::download {

enum class DigestType { Md5, Sha1, Sha256, Sha512 };

struct Checksum {
    DigestType type = DigestType::Sha256;
    std::string hex; // lower case, digestBytes(type) * 2 digits

    bool operator==(const Checksum&) const = default;
};

// "sha-256", "sha-1", "sha-512", "md5": the names the checksum option and metalink files use.
std::string_view digestName(DigestType type);
// A name as above, in any case, also without the dash ("sha256"); none for another.
std::optional<DigestType> digestTypeNamed(std::string_view name);
std::size_t digestBytes(DigestType type);
// Orders the types by strength: md5 weakest, sha-512 strongest.
int digestStrength(DigestType type);

// "TYPE=HEX"; a wrong type, or hex digits of the wrong number or kind, is refused with a
// message that names the value (FailureKind::BadAddress, since it is bad input of the download).
Result<Checksum> parseChecksum(std::string_view text);
// The checksum's text form, "sha-256=…".
std::string checksumText(const Checksum& checksum);
// A digest given as raw bytes (as Base64 headers carry it).
Result<Checksum> checksumOfBytes(DigestType type, std::span<const unsigned char> bytes);

// Computes a digest piece by piece.
class Hasher {
  public:
    explicit Hasher(DigestType type);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    void update(std::span<const char> bytes);
    // The digest of everything given so far, in lower-case hex; the hasher is spent after it.
    std::string finishHex();

  private:
    struct Context;
    DigestType type_;
    std::unique_ptr<Context> context_;
};

// The digest of the bytes [first, first + length) of the file at `path`, or of all of it when
// `length` is none.
Result<std::string> digestOfFile(const std::string& path, DigestType type, std::uint64_t first = 0,
                                 std::optional<std::uint64_t> length = std::nullopt);

// Whether the file at `path` has `expected`; a file that has another digest fails with
// FailureKind::ChecksumMismatch and a message that gives both.
Status verifyFile(const std::string& path, const Checksum& expected);

} // namespace vantorel::download
