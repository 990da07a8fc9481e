// The program's own pictures, as committed: each decodes at the size the windows are laid out
// for, and the flat areas the layout relies on have the colours it expects.

#include "picture/Encoders.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

namespace vantorel::picture {
namespace {

using testing::Bytes;

const std::string kAssets = std::string(VANTOREL_SOURCE_DIR) + "/assets/";

Image load(const std::string& name) {
    auto result = decode(testing::readFile(kAssets + name));
    EXPECT_TRUE(result.ok()) << name << ": " << (result.ok() ? "" : result.error().message);
    return result.ok() ? std::move(result).value() : Image{};
}

std::array<int, 4> at(const Image& image, int x, int y) {
    const auto i = (static_cast<std::size_t>(y) * image.width + x) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2], image.rgba[i + 3]};
}

bool near(const std::array<int, 4>& pixel, int r, int g, int b) {
    return std::abs(pixel[0] - r) <= 4 && std::abs(pixel[1] - g) <= 4 &&
           std::abs(pixel[2] - b) <= 4 && pixel[3] == 255;
}

TEST(Assets, EveryPictureDecodesAtItsLaidOutSize) {
    const struct {
        const char* name;
        Format format;
        int width, height;
    } pictures[] = {
        {"tip-qr.png", Format::Png, 555, 555},
        {"tip-wechat.jpg", Format::Jpeg, 1080, 1481},
        {"chat.png", Format::Png, 200, 200},
        {"group.png", Format::Png, 90, 22},
        {"tip-button.png", Format::Png, 200, 200},
        {"update-logo.png", Format::Png, 200, 100},
        {"update-background.jpg", Format::Jpeg, 702, 397},
        {"close-normal.jpg", Format::Jpeg, 32, 32},
        {"close-hover.jpg", Format::Jpeg, 32, 32},
        {"close-pressed.jpg", Format::Jpeg, 32, 32},
        {"confirm-normal.jpg", Format::Jpeg, 203, 56},
        {"confirm-hover.jpg", Format::Jpeg, 203, 56},
        {"confirm-pressed.jpg", Format::Jpeg, 203, 56},
    };
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.name);
        const Bytes bytes = testing::readFile(kAssets + p.name);
        EXPECT_EQ(format(bytes), p.format);
        const Image image = load(p.name);
        EXPECT_EQ(image.width, p.width);
        EXPECT_EQ(image.height, p.height);
    }
}

TEST(Assets, PngPixelFormatsAreTheLaidOutOnes) {
    // Colour type is byte 25 of a PNG: 6 RGBA, 3 palette.
    for (const char* name : {"tip-qr.png", "chat.png", "tip-button.png", "update-logo.png"}) {
        EXPECT_EQ(testing::readFile(kAssets + name).at(25), 6) << name;
    }
    EXPECT_EQ(testing::readFile(kAssets + "group.png").at(25), 3);
}

TEST(Assets, FlatAreasHaveTheWindowColours) {
    // The update window's version texts are white on the window blue at the top left.
    const Image background = load("update-background.jpg");
    ASSERT_EQ(background.width, 702);
    for (auto [x, y] : {std::pair{10, 8}, std::pair{130, 30}, std::pair{250, 120}}) {
        EXPECT_TRUE(near(at(background, x, y), 64, 159, 255)) << x << "," << y;
    }
    const Image close = load("close-normal.jpg");
    ASSERT_EQ(close.width, 32);
    EXPECT_TRUE(near(at(close, 1, 1), 64, 159, 255));
    EXPECT_TRUE(near(at(close, 16, 16), 255, 255, 255)); // the middle of the cross
    // The confirm button's corners blend into the window blue around the rounded face.
    const Image confirm = load("confirm-normal.jpg");
    ASSERT_EQ(confirm.width, 203);
    EXPECT_TRUE(near(at(confirm, 0, 0), 64, 159, 255));

    // A QR code needs its light quiet zone; the chat bubble's corners are see-through.
    const Image qr = load("tip-qr.png");
    ASSERT_EQ(qr.width, 555);
    EXPECT_EQ(at(qr, 0, 0), (std::array<int, 4>{255, 255, 255, 255}));
    EXPECT_EQ(at(qr, 554, 554), (std::array<int, 4>{255, 255, 255, 255}));
    const Image chat = load("chat.png");
    ASSERT_EQ(chat.width, 200);
    EXPECT_EQ(at(chat, 0, 0)[3], 0);
    EXPECT_EQ(at(chat, 100, 40)[3], 255);
}

TEST(Assets, IconHoldsOne128By128ImageIn32BitColour) {
    const Bytes ico = testing::readFile(kAssets + "icon.ico");
    ASSERT_GE(ico.size(), 22u);
    auto u16 = [&](std::size_t i) { return ico[i] | ico[i + 1] << 8; };
    auto u32 = [&](std::size_t i) { return static_cast<std::size_t>(u16(i) | u16(i + 2) << 16); };
    EXPECT_EQ(u16(0), 0); // reserved
    EXPECT_EQ(u16(2), 1); // icon, not cursor
    EXPECT_EQ(u16(4), 1); // one image
    EXPECT_EQ(ico[6], 128);
    EXPECT_EQ(ico[7], 128);
    EXPECT_EQ(u16(12), 32); // bits per pixel
    const std::size_t size = u32(14);
    const std::size_t offset = u32(18);
    EXPECT_EQ(offset, 22u);
    EXPECT_EQ(offset + size, ico.size());
    // The image itself is a bitmap whose header repeats the size (height doubled for the mask).
    ASSERT_GE(ico.size(), offset + 16);
    EXPECT_EQ(u32(offset), 40u);
    EXPECT_EQ(u32(offset + 4), 128u);
    EXPECT_EQ(u32(offset + 8), 256u);
    EXPECT_EQ(u16(offset + 14), 32);
}

} // namespace
} // namespace vantorel::picture
