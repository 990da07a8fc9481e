#pragma once
// Encodes RGBA pixels as a PNG, so the offline services can serve logos drawn at run time.

#include <cstdint>
#include <span>
#include <string>

namespace vantorel::demo {

// `rgba` holds width * height * 4 bytes, rows top to bottom.
std::string encodePng(int width, int height, std::span<const std::uint8_t> rgba);

// A 48 x 48 logo of our own: a rounded square in the given colour with a lighter glyph whose
// shape is picked by `seed`.
std::string drawLogo(std::uint32_t rgb, unsigned seed);

} // namespace vantorel::demo
