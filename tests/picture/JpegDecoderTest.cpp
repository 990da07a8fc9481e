// JPEG in grey, RGB and CMYK, baseline and progressive. JPEG is lossy, so colours are compared
// within a small tolerance at the middle of flat areas, away from block edges.

#include "picture/Encoders.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vantorel::picture {
namespace {

using testing::Bytes;
using testing::decoded;
using testing::encodeJpeg;
using testing::JpegPicture;

constexpr int kTolerance = 3;

void expectColour(const Image& image, int x, int y, int r, int g, int b) {
    const auto at = (static_cast<std::size_t>(y) * image.width + x) * 4;
    const std::uint8_t* p = image.rgba.data() + at;
    EXPECT_LE(std::abs(p[0] - r), kTolerance) << "red at " << x << "," << y << " is " << +p[0];
    EXPECT_LE(std::abs(p[1] - g), kTolerance) << "green at " << x << "," << y << " is " << +p[1];
    EXPECT_LE(std::abs(p[2] - b), kTolerance) << "blue at " << x << "," << y << " is " << +p[2];
    EXPECT_EQ(p[3], 255);
}

// Two flat 16 x 16 squares side by side.
JpegPicture twoSquares(std::array<std::uint8_t, 3> left, std::array<std::uint8_t, 3> right) {
    JpegPicture p{.width = 32, .height = 16};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const auto& c = x < 16 ? left : right;
            p.samples.insert(p.samples.end(), c.begin(), c.end());
        }
    }
    return p;
}

TEST(JpegDecoder, RgbBaselineAndProgressive) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        JpegPicture p = twoSquares({200, 40, 30}, {64, 159, 255});
        p.progressive = progressive;
        const Image image = decoded(encodeJpeg(p));
        ASSERT_EQ(image.width, 32);
        ASSERT_EQ(image.height, 16);
        expectColour(image, 4, 4, 200, 40, 30);
        expectColour(image, 27, 11, 64, 159, 255);
    }
}

TEST(JpegDecoder, GreyBecomesEqualChannels) {
    JpegPicture p{.width = 16, .height = 8, .components = 1};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            p.samples.push_back(x < 8 ? 30 : 220);
        }
    }
    const Image image = decoded(encodeJpeg(p));
    ASSERT_EQ(image.width, 16);
    expectColour(image, 3, 3, 30, 30, 30);
    expectColour(image, 12, 4, 220, 220, 220);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        ASSERT_EQ(image.rgba[i], image.rgba[i + 1]);
        ASSERT_EQ(image.rgba[i], image.rgba[i + 2]);
    }
}

TEST(JpegDecoder, CmykWithAndWithoutTheAdobeInversion) {
    struct Case {
        bool adobe;
        std::array<std::uint8_t, 4> ink;
        int r, g, b;
    };
    // Adobe files store inverted inks: the stored value is 255 minus the ink.
    const Case cases[] = {
        {true, {200, 100, 50, 255}, 200, 100, 50},
        {true, {200, 100, 50, 128}, 100, 50, 25},
        {false, {55, 155, 205, 0}, 200, 100, 50},
        {false, {0, 0, 0, 255}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.adobe ? "adobe " : "plain ") + std::to_string(c.ink[3]));
        JpegPicture p{.width = 8, .height = 8, .components = 4, .adobeCmyk = c.adobe};
        for (int i = 0; i < 64; ++i) {
            p.samples.insert(p.samples.end(), c.ink.begin(), c.ink.end());
        }
        const Image image = decoded(encodeJpeg(p));
        ASSERT_EQ(image.width, 8);
        expectColour(image, 4, 4, c.r, c.g, c.b);
    }
}

} // namespace
} // namespace vantorel::picture
