// PNG of every colour type and depth the windows may meet, checked pixel by pixel.

#include "picture/Encoders.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

namespace vantorel::picture {
namespace {

using testing::Bytes;
using testing::decoded;
using testing::encodePng;
using testing::PngPicture;
using Rgba = std::array<std::uint8_t, 4>;

Rgba pixel(const Image& image, int x, int y) {
    const auto at = (static_cast<std::size_t>(y) * image.width + x) * 4;
    return {image.rgba[at], image.rgba[at + 1], image.rgba[at + 2], image.rgba[at + 3]};
}

// A pattern in which every pixel differs from its neighbours, so a row or column out of place
// (as a wrong interlace pass would put it) changes the result.
PngPicture rgbaPattern(int width, int height) {
    PngPicture p{.width = width, .height = height};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            p.samples.insert(p.samples.end(), {static_cast<std::uint16_t>(x * 19 % 256),
                                               static_cast<std::uint16_t>(y * 23 % 256),
                                               static_cast<std::uint16_t>((x * 7 + y * 11) % 256),
                                               static_cast<std::uint16_t>(255 - (x + y) % 200)});
        }
    }
    return p;
}

TEST(PngDecoder, RgbaKeepsColourAndUnpremultipliedAlpha) {
    PngPicture p{.width = 3, .height = 2};
    p.samples = {255, 0,  0,  255, 0,   255, 0,  128, 0, 0, 255, 0,
                 10,  20, 30, 40,  200, 100, 50, 255, 1, 2, 3,   254};
    const Image image = decoded(encodePng(p));
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(pixel(image, 0, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixel(image, 1, 0), (Rgba{0, 255, 0, 128}));
    EXPECT_EQ(pixel(image, 2, 0)[3], 0);
    EXPECT_EQ(pixel(image, 0, 1), (Rgba{10, 20, 30, 40}));
    EXPECT_EQ(pixel(image, 1, 1), (Rgba{200, 100, 50, 255}));
    EXPECT_EQ(pixel(image, 2, 1), (Rgba{1, 2, 3, 254}));
}

TEST(PngDecoder, PaletteWithTransparencyAtEightAndTwoBits) {
    for (int depth : {8, 2}) {
        SCOPED_TRACE(depth);
        PngPicture p{.width = 5, .height = 1, .bitDepth = depth, .colourType = 3};
        p.palette = {{{255, 128, 32}}, {{0, 0, 0}}, {{64, 159, 255}}, {{9, 8, 7}}};
        p.transparency = {255, 0, 100}; // the fourth entry has no value: opaque
        p.samples = {0, 1, 2, 3, 2};
        const Image image = decoded(encodePng(p));
        ASSERT_EQ(image.width, 5);
        EXPECT_EQ(pixel(image, 0, 0), (Rgba{255, 128, 32, 255}));
        EXPECT_EQ(pixel(image, 1, 0)[3], 0);
        EXPECT_EQ(pixel(image, 2, 0), (Rgba{64, 159, 255, 100}));
        EXPECT_EQ(pixel(image, 3, 0), (Rgba{9, 8, 7, 255}));
        EXPECT_EQ(pixel(image, 4, 0), (Rgba{64, 159, 255, 100}));
    }
}

TEST(PngDecoder, GreyDepthsAndGreyWithAlpha) {
    PngPicture grey{.width = 3, .height = 1, .bitDepth = 8, .colourType = 0};
    grey.samples = {0, 77, 255};
    Image image = decoded(encodePng(grey));
    EXPECT_EQ(pixel(image, 0, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(pixel(image, 1, 0), (Rgba{77, 77, 77, 255}));
    EXPECT_EQ(pixel(image, 2, 0), (Rgba{255, 255, 255, 255}));

    // Eleven one-bit pixels span two bytes, the second one padded.
    PngPicture bits{.width = 11, .height = 2, .bitDepth = 1, .colourType = 0};
    for (int i = 0; i < 22; ++i) {
        bits.samples.push_back(static_cast<std::uint16_t>(i % 3 == 0));
    }
    image = decoded(encodePng(bits));
    ASSERT_EQ(image.width, 11);
    for (int i = 0; i < 22; ++i) {
        const std::uint8_t v = i % 3 == 0 ? 255 : 0;
        EXPECT_EQ(pixel(image, i % 11, i / 11), (Rgba{v, v, v, 255})) << i;
    }

    PngPicture greyAlpha{.width = 2, .height = 1, .bitDepth = 8, .colourType = 4};
    greyAlpha.samples = {200, 50, 30, 255};
    image = decoded(encodePng(greyAlpha));
    EXPECT_EQ(pixel(image, 0, 0), (Rgba{200, 200, 200, 50}));
    EXPECT_EQ(pixel(image, 1, 0), (Rgba{30, 30, 30, 255}));
}

TEST(PngDecoder, SixteenBitSamplesReduceToTheirHighByte) {
    // v * 257 is the 16-bit form of the 8-bit value v.
    PngPicture rgb{.width = 2, .height = 1, .bitDepth = 16, .colourType = 2};
    rgb.samples = {64 * 257, 159 * 257, 255 * 257, 0, 128 * 257, 1 * 257};
    Image image = decoded(encodePng(rgb));
    EXPECT_EQ(pixel(image, 0, 0), (Rgba{64, 159, 255, 255}));
    EXPECT_EQ(pixel(image, 1, 0), (Rgba{0, 128, 1, 255}));

    PngPicture rgba{.width = 1, .height = 1, .bitDepth = 16, .colourType = 6};
    rgba.samples = {200 * 257, 100 * 257, 50 * 257, 255 * 257};
    image = decoded(encodePng(rgba));
    EXPECT_EQ(pixel(image, 0, 0), (Rgba{200, 100, 50, 255}));
}

TEST(PngDecoder, InterlacedMatchesTheSamePictureStoredPlain) {
    // 13 x 11 leaves some Adam7 passes short and the 1-pixel-wide cases empty.
    for (auto [w, h] : {std::pair{13, 11}, std::pair{1, 1}, std::pair{2, 9}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        PngPicture p = rgbaPattern(w, h);
        const Image plain = decoded(encodePng(p));
        p.interlaced = true;
        const Image interlaced = decoded(encodePng(p));
        ASSERT_EQ(interlaced.width, w);
        ASSERT_EQ(interlaced.height, h);
        EXPECT_EQ(interlaced.rgba, plain.rgba);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const auto at = (static_cast<std::size_t>(y) * w + x) * 4;
                ASSERT_EQ(pixel(interlaced, x, y),
                          (Rgba{static_cast<std::uint8_t>(p.samples[at]),
                                static_cast<std::uint8_t>(p.samples[at + 1]),
                                static_cast<std::uint8_t>(p.samples[at + 2]),
                                static_cast<std::uint8_t>(p.samples[at + 3])}));
            }
        }
    }
}

TEST(PictureFormat, RecognisedBySignatureOnly) {
    PngPicture p = rgbaPattern(2, 2);
    EXPECT_EQ(format(encodePng(p)), Format::Png);
    EXPECT_EQ(format(Bytes{0xFF, 0xD8, 0xFF, 0xE0}), Format::Jpeg);
    EXPECT_EQ(format(Bytes{0xFF, 0xD8}), Format::Unknown);
    EXPECT_EQ(format(Bytes{'G', 'I', 'F', '8', '9', 'a'}), Format::Unknown);
    EXPECT_EQ(format(Bytes{0x89, 'P', 'N', 'G'}), Format::Unknown);
    EXPECT_EQ(format(Bytes{}), Format::Unknown);
}

} // namespace
} // namespace vantorel::picture
