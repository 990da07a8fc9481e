// Pictures come from the network: empty, foreign, truncated, damaged or oversized input must
// give an error value of the right kind (and never pixels that were not in the file).

#include "picture/Encoders.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <random>

namespace vantorel::picture {
namespace {

using testing::Bytes;

ErrorCode codeOf(const Result<Image>& result) {
    return static_cast<ErrorCode>(result.error().code);
}

Bytes samplePng() {
    testing::PngPicture p{.width = 13, .height = 11, .interlaced = true};
    for (int i = 0; i < 13 * 11; ++i) {
        p.samples.insert(p.samples.end(), {static_cast<std::uint16_t>(i * 37 % 256),
                                           static_cast<std::uint16_t>(i * 11 % 256),
                                           static_cast<std::uint16_t>(i % 256), 255});
    }
    return testing::encodePng(p);
}

Bytes sampleJpeg(bool progressive) {
    testing::JpegPicture p{.width = 40, .height = 24, .progressive = progressive, .quality = 85};
    for (int i = 0; i < 40 * 24; ++i) {
        p.samples.insert(p.samples.end(), {static_cast<std::uint8_t>(i * 37 % 256),
                                           static_cast<std::uint8_t>(i * 11 % 256),
                                           static_cast<std::uint8_t>(i % 256)});
    }
    return testing::encodeJpeg(p);
}

TEST(DamagedPicture, EmptyAndForeignInput) {
    auto empty = decode(Bytes{});
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(codeOf(empty), ErrorCode::Empty);
    EXPECT_FALSE(empty.error().message.empty());

    const std::string text = "<html>not a picture</html>";
    auto html = decode(Bytes(text.begin(), text.end()));
    ASSERT_FALSE(html.ok());
    EXPECT_EQ(codeOf(html), ErrorCode::UnknownFormat);

    auto gif = decode(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0});
    ASSERT_FALSE(gif.ok());
    EXPECT_EQ(codeOf(gif), ErrorCode::UnknownFormat);

    // A bare signature is recognised, then found to hold nothing.
    for (Bytes bare :
         {Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Bytes{0xFF, 0xD8, 0xFF}}) {
        auto result = decode(bare);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(codeOf(result), ErrorCode::Corrupt);
    }
}

// Cutting the file anywhere either fails or, where only the closing marker is lost, still
// yields exactly the whole picture. Cut before the last chunk, a PNG must fail; a JPEG has
// its end marker read too, so any cut fails.
TEST(DamagedPicture, TruncatedAtEveryOffset) {
    const Bytes png = samplePng();
    const auto whole = decode(png);
    ASSERT_TRUE(whole.ok());
    const std::size_t lastChunk = testing::lastPngChunk(png);
    for (std::size_t cut = 0; cut < png.size(); ++cut) {
        auto result = decode(std::span(png).first(cut));
        if (cut < lastChunk) {
            ASSERT_FALSE(result.ok()) << "PNG cut at " << cut << " of " << png.size();
        } else if (result.ok()) {
            ASSERT_EQ(result->rgba, whole->rgba) << "PNG cut at " << cut;
        }
        if (!result.ok()) {
            ASSERT_NE(codeOf(result), ErrorCode::TooLarge);
        }
    }

    for (bool progressive : {false, true}) {
        const Bytes jpeg = sampleJpeg(progressive);
        ASSERT_TRUE(decode(jpeg).ok());
        for (std::size_t cut = 0; cut < jpeg.size(); ++cut) {
            auto result = decode(std::span(jpeg).first(cut));
            ASSERT_FALSE(result.ok()) << "JPEG cut at " << cut << " of " << jpeg.size()
                                      << (progressive ? " (progressive)" : "");
            ASSERT_NE(codeOf(result), ErrorCode::TooLarge);
        }
    }
}

// Random damage, also inside compressed data whose chunk checksums are then made to match,
// may give an error or some picture, but a picture is always consistent with its size.
TEST(DamagedPicture, RandomCorruptionNeverBreaksTheResult) {
    std::mt19937 random(20261207);
    const Bytes samples[] = {samplePng(), sampleJpeg(false), sampleJpeg(true)};
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        const Bytes& original = samples[round % 3];
        Bytes damaged = original;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            damaged[8 + random() % (damaged.size() - 8)] ^=
                static_cast<std::uint8_t>(1 + random() % 255);
        }
        if (round % 3 == 0 && round % 2 == 0) {
            testing::fixPngChecksums(damaged);
        }
        auto result = decode(damaged);
        if (result.ok()) {
            ASSERT_GT(result->width, 0);
            ASSERT_GT(result->height, 0);
            ASSERT_EQ(result->rgba.size(),
                      static_cast<std::size_t>(result->width) * result->height * 4);
        } else {
            ++failures;
            ASSERT_FALSE(result.error().message.empty());
        }
    }
    EXPECT_GT(failures, 0); // the damage did reach the decoders
}

TEST(DamagedPicture, StatedDimensionsBeyondTheLimitsAreRefusedBeforeDecoding) {
    const Bytes png = samplePng();
    for (auto [w, h] :
         {std::pair{100000u, 100000u}, std::pair{9000u, 11u}, std::pair{13u, 8193u}}) {
        auto result = decode(testing::withPngDimensions(png, w, h));
        ASSERT_FALSE(result.ok()) << w << "x" << h;
        EXPECT_EQ(codeOf(result), ErrorCode::TooLarge) << result.error().message;
    }
    auto jpeg = decode(testing::withJpegDimensions(sampleJpeg(false), 60000, 60000));
    ASSERT_FALSE(jpeg.ok());
    EXPECT_EQ(codeOf(jpeg), ErrorCode::TooLarge) << jpeg.error().message;
    auto progressive = decode(testing::withJpegDimensions(sampleJpeg(true), 9000, 10));
    ASSERT_FALSE(progressive.ok());
    EXPECT_EQ(codeOf(progressive), ErrorCode::TooLarge);
}

// A valid progressive file can still make the decoder re-read the picture once per scan, so a
// file with hundreds of scans is refused rather than decoded.
TEST(DamagedPicture, ProgressiveFileWithHundredsOfScansIsRefused) {
    testing::JpegPicture p{.width = 64, .height = 64, .components = 1, .everyBitItsOwnScan = true};
    p.samples.assign(64 * 64, 0);
    for (std::size_t i = 0; i < p.samples.size(); ++i) {
        p.samples[i] = static_cast<std::uint8_t>(i * 7 % 251);
    }
    auto result = decode(testing::encodeJpeg(p));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(codeOf(result), ErrorCode::Corrupt);
}

TEST(DamagedPicture, LimitsAreInclusive) {
    const Bytes png = samplePng();        // 13 x 11
    const Bytes jpeg = sampleJpeg(false); // 40 x 24
    const Limits exactPng{
        .maxWidth = 13, .maxHeight = 11, .maxEncodedBytes = png.size(), .maxPixels = 143};
    EXPECT_TRUE(decode(png, exactPng).ok());
    const Limits exactJpeg{
        .maxWidth = 40, .maxHeight = 24, .maxEncodedBytes = jpeg.size(), .maxPixels = 960};
    EXPECT_TRUE(decode(jpeg, exactJpeg).ok());

    auto tooManyPixels = exactPng;
    tooManyPixels.maxPixels = 142;
    auto tooWide = exactJpeg;
    tooWide.maxWidth = 39;
    auto tooTall = exactJpeg;
    tooTall.maxHeight = 23;
    auto tooLong = exactPng;
    tooLong.maxEncodedBytes = png.size() - 1;
    for (const auto& [bytes, limits] : {std::pair{png, tooManyPixels}, std::pair{jpeg, tooWide},
                                        std::pair{jpeg, tooTall}, std::pair{png, tooLong}}) {
        auto result = decode(bytes, limits);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(codeOf(result), ErrorCode::TooLarge);
    }
}

} // namespace
} // namespace vantorel::picture
