// PNG through libpng's simplified reader: it expands palette, grey, low and 16-bit depths,
// transparency chunks and interlacing to 8-bit RGBA, and reports errors in the image record
// instead of jumping out of our frames.

#include "picture/Decoders.h"

#include <png.h>

namespace vantorel::picture::detail {

namespace {

// Frees libpng's reader state on every way out, including the early error returns.
class PngReader {
  public:
    PngReader() { image_.version = PNG_IMAGE_VERSION; }
    ~PngReader() { png_image_free(&image_); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    png_image& image() { return image_; }
    std::string message() const { return image_.message[0] ? image_.message : "无法读取 PNG"; }

  private:
    png_image image_{};
};

} // namespace

Result<Image> decodePng(std::span<const std::uint8_t> bytes, const Limits& limits) {
    PngReader reader;
    png_image& image = reader.image();
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        return corrupt(reader.message());
    }
    if (auto fits = checkDimensions(image.width, image.height, limits); !fits) {
        return fits.error();
    }
    image.format = PNG_FORMAT_RGBA;
    // A 16-bit file without colour-space chunks holds the same sRGB values as an 8-bit one;
    // reading it as linear light would brighten every mid-tone.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;

    Image out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
        return corrupt(reader.message());
    }
    return out;
}

} // namespace vantorel::picture::detail
