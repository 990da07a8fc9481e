#pragma once
// Encoders that make the pictures the decoder tests read: PNG chunk by chunk (so every colour
// type, depth and interlacing can be produced, and headers patched), JPEG through libjpeg.

#include "picture/Picture.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantorel::picture::testing {

using Bytes = std::vector<std::uint8_t>;

struct PngPicture {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int colourType = 6;                   // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    bool interlaced = false;              // Adam7
    std::vector<std::uint16_t> samples{}; // width * height * channels, row by row
    std::vector<std::array<std::uint8_t, 3>> palette{};
    Bytes transparency{}; // tRNS contents, written when not empty
};

Bytes encodePng(const PngPicture& picture);

// Decodes `bytes`, failing the current test (and giving an empty image) when that fails or the
// pixel buffer does not match the size.
Image decoded(const Bytes& bytes);

// Rewrites the IHDR dimensions of an encoded PNG (with a valid checksum).
Bytes withPngDimensions(Bytes png, std::uint32_t width, std::uint32_t height);

// Recomputes the checksum of every chunk, so damage inside a chunk reaches the decoder.
void fixPngChecksums(Bytes& png);

// Offset of the last chunk (IEND) of a well-formed PNG.
std::size_t lastPngChunk(const Bytes& png);

struct JpegPicture {
    int width = 0;
    int height = 0;
    int components = 3;    // 1 grey, 3 RGB, 4 CMYK
    bool adobeCmyk = true; // for 4 components: write the Adobe segment (inverted inks)
    bool progressive = false;
    bool everyBitItsOwnScan = false; // grey only: one scan per coefficient and bit, 704 in all
    int quality = 100;
    Bytes samples{}; // width * height * components
};

Bytes encodeJpeg(const JpegPicture& picture);

// Rewrites the frame dimensions of an encoded baseline or progressive JPEG.
Bytes withJpegDimensions(Bytes jpeg, std::uint16_t width, std::uint16_t height);

Bytes readFile(const std::string& path);

} // namespace vantorel::picture::testing
