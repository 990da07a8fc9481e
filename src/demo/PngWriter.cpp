#include "demo/PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace vantorel::demo {
namespace {

void appendBigEndian(std::string& out, std::uint32_t v) {
    out.push_back(char(v >> 24));
    out.push_back(char(v >> 16));
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

void appendChunk(std::string& out, const char type[4], const std::string& data) {
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    out += typed;
    appendBigEndian(out, static_cast<std::uint32_t>(crc32(
                             0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
}

} // namespace

std::string encodePng(int width, int height, std::span<const std::uint8_t> rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != std::size_t(width) * std::size_t(height) * 4)
        throw std::invalid_argument("encodePng: pixel count does not match the size");
    std::string raw;
    raw.reserve(std::size_t(height) * (std::size_t(width) * 4 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        raw.append(reinterpret_cast<const char*>(rgba.data()) + std::size_t(y) * width * 4,
                   std::size_t(width) * 4);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<Bytef> packed(packedSize);
    if (compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), 9) != Z_OK)
        throw std::runtime_error("encodePng: compression failed");

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    appendBigEndian(header, std::uint32_t(width));
    appendBigEndian(header, std::uint32_t(height));
    header +=
        std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", std::string(reinterpret_cast<const char*>(packed.data()), packedSize));
    appendChunk(png, "IEND", "");
    return png;
}

std::string drawLogo(std::uint32_t rgb, unsigned seed) {
    constexpr int kSize = 48;
    std::vector<std::uint8_t> px(kSize * kSize * 4, 0);
    const std::uint8_t r = rgb >> 16, g = rgb >> 8, b = rgb;
    auto lighter = [](std::uint8_t c) { return std::uint8_t(c + (255 - c) * 3 / 4); };
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            // Rounded square with corner radius 10.
            double dx = std::max({10.0 - x, x - 37.0, 0.0});
            double dy = std::max({10.0 - y, y - 37.0, 0.0});
            if (dx * dx + dy * dy > 100.0)
                continue;
            double cx = x - 23.5, cy = y - 23.5;
            bool glyph = false;
            switch (seed % 4) {
            case 0:
                glyph = cx * cx + cy * cy < 120.0 && cx * cx + cy * cy > 40.0;
                break; // ring
            case 1:
                glyph = std::abs(cx) + std::abs(cy) < 12.0;
                break; // diamond
            case 2:
                glyph = (std::abs(cx) < 3.0 && std::abs(cy) < 12.0) ||
                        (cy > 4 && cy < 10 && std::abs(cx) < 10 - (cy - 4));
                break; // arrow
            default:
                glyph = std::abs(cx) < 10.0 && std::abs(cy) < 10.0 &&
                        (std::abs(cx) > 6.0 || std::abs(cy) > 6.0);
                break; // frame
            }
            std::uint8_t* p = &px[std::size_t(y * kSize + x) * 4];
            p[0] = glyph ? lighter(r) : r;
            p[1] = glyph ? lighter(g) : g;
            p[2] = glyph ? lighter(b) : b;
            p[3] = 255;
        }
    }
    return encodePng(kSize, kSize, px);
}

} // namespace vantorel::demo
