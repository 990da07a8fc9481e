#pragma once
// Pictures for the windows: decoded by the core's PNG/JPEG decoder (with its size limits) and
// wrapped in a QImage.

#include "common/Result.h"
#include "picture/Picture.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <span>

namespace vantorel::app {

// Makes the compiled-in pictures (":/assets/...") available; safe to call any number of times.
void ensureAssetsRegistered();

Result<QImage> decodeImage(std::span<const std::uint8_t> bytes);

// A picture decoded already (on a worker) as a QImage; copying pixels, no decoding.
Result<QImage> toQImage(const picture::Image& image);

// Reads and decodes a picture compiled into the program (":/assets/...").
Result<QImage> loadResourceImage(const QString& path);

} // namespace vantorel::app
