// Picture boxes: centred-fit and tiled drawing, checked on the pixels they draw, and pictures
// given as encoded bytes.

#include "app/MainWindow.h"
#include "app/Widgets.h"

#include <QBuffer>
#include <gtest/gtest.h>

using namespace vantorel::app;

namespace {

QImage solid(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGBA8888);
    image.fill(colour);
    return image;
}

// The bounding box of the pixels of `colour` in `image`.
QRect areaOf(const QImage& image, QColor colour) {
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == colour) {
                area |= QRect(x, y, 1, 1);
            }
        }
    }
    return area;
}

std::vector<std::uint8_t> encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return {bytes.begin(), bytes.end()};
}

} // namespace

TEST(PictureBoxFit, NaturalSizeOrShrunkUniformlyAndCentred) {
    // Larger in both directions: shrunk to fill the box.
    EXPECT_EQ(PictureBox::fitRect({555, 555}, {140, 140}), QRect(0, 0, 140, 140));
    EXPECT_EQ(PictureBox::fitRect({200, 200}, {22, 22}), QRect(0, 0, 22, 22));
    EXPECT_EQ(PictureBox::fitRect({200, 200}, {30, 30}), QRect(0, 0, 30, 30));
    // Exactly the box's size: fills it.
    EXPECT_EQ(PictureBox::fitRect({90, 22}, {90, 22}), QRect(0, 0, 90, 22));
    // Larger in one direction only: aspect ratio kept, centred in the other.
    EXPECT_EQ(PictureBox::fitRect({400, 100}, {200, 100}), QRect(0, 25, 200, 50));
    EXPECT_EQ(PictureBox::fitRect({100, 300}, {200, 100}), QRect(83, 0, 33, 100));
    // Smaller: natural size, centred.
    EXPECT_EQ(PictureBox::fitRect({20, 10}, {60, 60}), QRect(20, 25, 20, 10));
    // Nothing to draw.
    EXPECT_TRUE(PictureBox::fitRect({0, 0}, {60, 60}).isEmpty());
    EXPECT_TRUE(PictureBox::fitRect({10, 10}, {0, 0}).isEmpty());
}

TEST(PictureBoxFit, TheWindowsPicturesAreShownWhole) {
    MainWindow window;
    struct Case {
        const char* name;
        QSize picture;
        QRect drawn;
    };
    const Case cases[] = {
        {"图片框_asd", {555, 555}, {0, 0, 140, 140}},
        {"图片框_发起QQ聊天", {200, 200}, {0, 0, 22, 22}},
        {"图片框1", {200, 200}, {0, 0, 30, 30}},
        {"图片框_发起QQ群聊", {90, 22}, {0, 0, 90, 22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* box = window.control<PictureBox>(c.name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->image().size(), c.picture);
        EXPECT_EQ(box->displayMode(), DisplayMode::CentredFit);
        EXPECT_FALSE(box->hasBorder());
        EXPECT_EQ(PictureBox::fitRect(box->image().size(), box->pictureArea().size()), c.drawn);
    }
    auto* icon = window.control<PictureBox>("图片框_图标");
    EXPECT_TRUE(icon->image().isNull());
    EXPECT_EQ(icon->displayMode(), DisplayMode::Tiled);
    EXPECT_TRUE(icon->hasBorder());
}

TEST(PictureBoxDrawing, CentredFitDrawsTheShrunkPictureCentred) {
    PictureBox box;
    box.resize(30, 30);
    box.setBackground(QColor(Qt::white));
    box.setImage(solid({200, 100}, Qt::red));
    EXPECT_EQ(areaOf(box.grab().toImage(), Qt::red), QRect(0, 7, 30, 15));

    box.setImage(solid({10, 6}, Qt::blue)); // smaller: natural size, centred
    EXPECT_EQ(areaOf(box.grab().toImage(), Qt::blue), QRect(10, 12, 10, 6));
}

TEST(PictureBoxDrawing, TiledRepeatsFromTheTopLeftInsideTheBorder) {
    MainWindow window;
    auto* box = window.control<PictureBox>("图片框_图标");
    // A 16 x 16 picture whose top-left pixel is marked.
    QImage tile = solid({16, 16}, Qt::green);
    tile.setPixelColor(0, 0, Qt::red);
    box->setImage(tile);
    const QImage shot = box->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(60, 60));
    // Inside the one-pixel border the tiles start at (1, 1) and repeat every 16 pixels.
    for (int y = 1; y < 59; ++y) {
        for (int x = 1; x < 59; ++x) {
            const bool corner = (x - 1) % 16 == 0 && (y - 1) % 16 == 0;
            ASSERT_EQ(shot.pixelColor(x, y), corner ? QColor(Qt::red) : QColor(Qt::green))
                << x << "," << y;
        }
    }
    EXPECT_NE(shot.pixelColor(0, 0), QColor(Qt::green)); // the border
}

TEST(PictureBoxBytes, DecodesClearsAndRefusesBrokenPictures) {
    PictureBox box;
    const QImage original = solid({12, 8}, QColor(10, 20, 30));
    ASSERT_TRUE(box.setPicture(encode(original, "PNG")).ok());
    EXPECT_EQ(box.image().size(), QSize(12, 8));
    EXPECT_EQ(box.image().pixelColor(3, 3), QColor(10, 20, 30));

    auto jpeg = encode(solid({32, 32}, QColor(200, 0, 0)), "JPG");
    ASSERT_TRUE(box.setPicture(jpeg).ok());
    EXPECT_EQ(box.image().size(), QSize(32, 32));

    // A truncated picture is refused with a message; the box keeps what it showed.
    jpeg.resize(jpeg.size() / 3);
    const auto truncated = box.setPicture(jpeg);
    EXPECT_FALSE(truncated.ok());
    EXPECT_FALSE(truncated.error().message.empty());
    EXPECT_EQ(box.image().size(), QSize(32, 32));

    const std::vector<std::uint8_t> junk(100, 0x5a);
    EXPECT_FALSE(box.setPicture(junk).ok());
    EXPECT_EQ(box.image().size(), QSize(32, 32));

    EXPECT_TRUE(box.setPicture({}).ok());
    EXPECT_TRUE(box.image().isNull());
}
