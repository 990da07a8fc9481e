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

// Decodes PNG or JPEG, recognised by their signatures.
Result<Image> decode(std::span<const std::uint8_t> bytes, const Limits& limits = {});

} // namespace vantorel::picture
