#include "download/Checksum.h"

#include "common/FileDescriptor.h"
#include "common/FileSystemCause.h"

#include <openssl/evp.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <new>
#include <vector>

namespace vantorel::download {
namespace {

constexpr std::size_t kReadBlock = 1 << 20;

const EVP_MD* algorithm(DigestType type) {
    switch (type) {
    case DigestType::Md5:
        return EVP_md5();
    case DigestType::Sha1:
        return EVP_sha1();
    case DigestType::Sha256:
        return EVP_sha256();
    case DigestType::Sha512:
        return EVP_sha512();
    }
    return EVP_sha256();
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string hexOf(std::span<const unsigned char> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0xf];
    }
    return hex;
}

} // namespace

struct Hasher::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> md{EVP_MD_CTX_new()};
};

std::string_view digestName(DigestType type) {
    switch (type) {
    case DigestType::Md5:
        return "md5";
    case DigestType::Sha1:
        return "sha-1";
    case DigestType::Sha256:
        return "sha-256";
    case DigestType::Sha512:
        return "sha-512";
    }
    return "sha-256";
}

std::optional<DigestType> digestTypeNamed(std::string_view name) {
    std::string key = lower(name);
    std::erase(key, '-');
    if (key == "md5")
        return DigestType::Md5;
    if (key == "sha1")
        return DigestType::Sha1;
    if (key == "sha256")
        return DigestType::Sha256;
    if (key == "sha512")
        return DigestType::Sha512;
    return std::nullopt;
}

std::size_t digestBytes(DigestType type) {
    return static_cast<std::size_t>(EVP_MD_get_size(algorithm(type)));
}

int digestStrength(DigestType type) {
    switch (type) {
    case DigestType::Md5:
        return 0;
    case DigestType::Sha1:
        return 1;
    case DigestType::Sha256:
        return 2;
    case DigestType::Sha512:
        return 3;
    }
    return 0;
}

Result<Checksum> parseChecksum(std::string_view text) {
    const auto bad = [&](std::string why) {
        return makeError("校验值“" + std::string(text) + "”无效：" + why, FailureKind::BadAddress);
    };
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return bad("应为 类型=十六进制值，如 sha-256=…");
    const auto type = digestTypeNamed(text.substr(0, equals));
    if (!type)
        return bad("不支持的类型（可用 sha-256、sha-1、sha-512、md5）");
    const std::string hex = lower(text.substr(equals + 1));
    if (hex.size() != digestBytes(*type) * 2 ||
        !std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return bad(std::string(digestName(*type)) + " 应为 " +
                   std::to_string(digestBytes(*type) * 2) + " 位十六进制数");
    return Checksum{*type, hex};
}

std::string checksumText(const Checksum& checksum) {
    return std::string(digestName(checksum.type)) + "=" + checksum.hex;
}

Result<Checksum> checksumOfBytes(DigestType type, std::span<const unsigned char> bytes) {
    if (bytes.size() != digestBytes(type))
        return makeError(std::string(digestName(type)) + " 校验值的长度不对",
                         FailureKind::BadAddress);
    return Checksum{type, hexOf(bytes)};
}

Hasher::Hasher(DigestType type) : type_(type), context_(std::make_unique<Context>()) {
    if (!context_->md || EVP_DigestInit_ex(context_->md.get(), algorithm(type), nullptr) != 1)
        throw std::bad_alloc();
}

Hasher::~Hasher() = default;

void Hasher::update(std::span<const char> bytes) {
    EVP_DigestUpdate(context_->md.get(), bytes.data(), bytes.size());
}

std::string Hasher::finishHex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_->md.get(), digest.data(), &size);
    return hexOf(std::span(digest.data(), size));
}

Result<std::string> digestOfFile(const std::string& path, DigestType type, std::uint64_t first,
                                 std::optional<std::uint64_t> length) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return fileSystemError("无法读取文件", path, errno);
    Hasher hasher(type);
    std::vector<char> buffer(kReadBlock);
    std::uint64_t offset = first;
    std::uint64_t left = length.value_or(UINT64_MAX);
    while (left > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const ssize_t got = ::pread(fd.get(), buffer.data(), want, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return fileSystemError("无法读取文件", path, errno);
        }
        if (got == 0) {
            if (length)
                return makeError("文件比应有的短：" + path, FailureKind::PartChanged);
            break;
        }
        hasher.update(std::span(buffer.data(), static_cast<std::size_t>(got)));
        offset += static_cast<std::uint64_t>(got);
        left -= static_cast<std::uint64_t>(got);
    }
    return hasher.finishHex();
}

Status verifyFile(const std::string& path, const Checksum& expected) {
    Result<std::string> actual = digestOfFile(path, expected.type);
    if (!actual)
        return actual.error();
    if (*actual == expected.hex)
        return {};
    const std::string name(digestName(expected.type));
    return makeError("文件校验失败：应为 " + name + "=" + expected.hex + "，实为 " + name + "=" +
                         *actual,
                     FailureKind::ChecksumMismatch);
}

} // namespace vantorel::download
