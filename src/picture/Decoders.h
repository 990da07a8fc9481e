#pragma once
// The per-format decoders behind picture::decode. The encoded size has been checked against the
// limits already; each decoder checks the stated dimensions before it allocates any pixels.

#include "picture/Picture.h"

#include <string>

namespace vantorel::picture::detail {

Result<Image> decodePng(std::span<const std::uint8_t> bytes, const Limits& limits);
Result<Image> decodeJpeg(std::span<const std::uint8_t> bytes, const Limits& limits);

// Checks stated dimensions; the error names them and the limit they break.
Status checkDimensions(long long width, long long height, const Limits& limits);

Error corrupt(const std::string& detail);

} // namespace vantorel::picture::detail
