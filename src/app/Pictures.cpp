#include "app/Pictures.h"

#include <QFile>

// The pictures are compiled into a static library; referencing its initialiser keeps them
// linked in. Q_INIT_RESOURCE has to be used outside any namespace.
static void registerAssets() {
    Q_INIT_RESOURCE(assets);
}

namespace vantorel::app {

void ensureAssetsRegistered() {
    static const bool registered = (registerAssets(), true);
    (void)registered;
}

Result<QImage> decodeImage(std::span<const std::uint8_t> bytes) {
    auto decoded = picture::decode(bytes);
    if (!decoded) {
        return decoded.error();
    }
    return toQImage(decoded.value());
}

Result<QImage> toQImage(const picture::Image& image) {
    const auto expected =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
    if (image.width <= 0 || image.height <= 0 || image.rgba.size() != expected) {
        return makeError("图片数据不完整");
    }
    // QImage only borrows the buffer here; copy() gives it pixels of its own.
    return QImage(image.rgba.data(), image.width, image.height, image.width * 4,
                  QImage::Format_RGBA8888)
        .copy();
}

Result<QImage> loadResourceImage(const QString& path) {
    ensureAssetsRegistered();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return makeError("无法读取图片 " + path.toStdString());
    }
    const QByteArray bytes = file.readAll();
    return decodeImage(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size())));
}

} // namespace vantorel::app
