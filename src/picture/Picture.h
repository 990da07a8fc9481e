#pragma once
// Decoding of the PNG and JPEG pictures the windows show. Every input is untrusted: a picture
// beyond the limits, or a corrupt or truncated one, is an error value, never a crash.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantorel::picture {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // 8-bit R, G, B, A per pixel, rows top to bottom, no padding
};

struct Limits {
    int maxWidth = 8192;
    int maxHeight = 8192;
    std::size_t maxEncodedBytes = 32u << 20;
    std::size_t maxPixels = 40'000'000;
};

enum class Format { Unknown, Png, Jpeg };

// Values of Error::code for a failed decode, so callers can tell the cases apart.
enum class ErrorCode {
    Empty = 1,     // no bytes at all
    UnknownFormat, // neither a PNG nor a JPEG signature
    TooLarge,      // encoded size or stated dimensions beyond the limits
    Corrupt,       // damaged or truncated data
};

// The format named by the signature at the start of the bytes.
Format format(std::span<const std::uint8_t> bytes);

// Decodes PNG or JPEG, recognised by their signatures.
Result<Image> decode(std::span<const std::uint8_t> bytes, const Limits& limits = {});

} // namespace vantorel::picture
