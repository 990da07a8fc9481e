#include "picture/Picture.h"

#include "picture/Decoders.h"

#include <algorithm>
#include <array>
#include <string>

namespace vantorel::picture {

namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> kJpegSignature{0xFF, 0xD8, 0xFF};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& prefix) {
    return bytes.size() >= N && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

Error failure(ErrorCode code, std::string message) {
    return makeError(std::move(message), static_cast<int>(code));
}

} // namespace

Format format(std::span<const std::uint8_t> bytes) {
    if (startsWith(bytes, kPngSignature)) {
        return Format::Png;
    }
    if (startsWith(bytes, kJpegSignature)) {
        return Format::Jpeg;
    }
    return Format::Unknown;
}

Result<Image> decode(std::span<const std::uint8_t> bytes, const Limits& limits) {
    if (bytes.empty()) {
        return failure(ErrorCode::Empty, "图片数据为空");
    }
    if (bytes.size() > limits.maxEncodedBytes) {
        return failure(ErrorCode::TooLarge, "图片文件过大（" + std::to_string(bytes.size()) +
                                                " 字节，上限 " +
                                                std::to_string(limits.maxEncodedBytes) + " 字节）");
    }
    switch (format(bytes)) {
    case Format::Png:
        return detail::decodePng(bytes, limits);
    case Format::Jpeg:
        return detail::decodeJpeg(bytes, limits);
    case Format::Unknown:
        break;
    }
    return failure(ErrorCode::UnknownFormat, "不是 PNG 或 JPEG 图片");
}

namespace detail {

Status checkDimensions(long long width, long long height, const Limits& limits) {
    const auto size = std::to_string(width) + " × " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        return corrupt("尺寸 " + size + " 无效");
    }
    if (width > limits.maxWidth || height > limits.maxHeight) {
        return failure(ErrorCode::TooLarge, "图片尺寸过大（" + size + "，上限 " +
                                                std::to_string(limits.maxWidth) + " × " +
                                                std::to_string(limits.maxHeight) + "）");
    }
    // Both factors are at most INT_MAX here, so the product fits in an unsigned 64-bit value.
    const auto pixels =
        static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
    if (pixels > limits.maxPixels) {
        return failure(ErrorCode::TooLarge, "图片像素过多（" + size + "，上限 " +
                                                std::to_string(limits.maxPixels) + " 像素）");
    }
    return {};
}

Error corrupt(const std::string& detail) {
    return failure(ErrorCode::Corrupt, "图片数据损坏或不完整（" + detail + "）");
}

} // namespace detail

} // namespace vantorel::picture
