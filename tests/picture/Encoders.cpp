#include "picture/Encoders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>
#include <zlib.h>

namespace vantorel::picture::testing {

namespace {

void put32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t get32(const Bytes& in, std::size_t at) {
    return std::uint32_t{in.at(at)} << 24 | std::uint32_t{in.at(at + 1)} << 16 |
           std::uint32_t{in.at(at + 2)} << 8 | std::uint32_t{in.at(at + 3)};
}

void putChunk(Bytes& out, const char* type, const Bytes& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, static_cast<std::uint32_t>(
                   crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

int channelsOf(int colourType) {
    switch (colourType) {
    case 0:
    case 3:
        return 1;
    case 2:
        return 3;
    case 4:
        return 2;
    default:
        return 4;
    }
}

// Appends one filtered (filter type 0) row of the pixels at columns x0, x0 + dx, ... of row y.
void putRow(Bytes& raw, const PngPicture& p, int y, int x0, int dx) {
    const int channels = channelsOf(p.colourType);
    raw.push_back(0);
    unsigned acc = 0;
    int bits = 0;
    for (int x = x0; x < p.width; x += dx) {
        for (int c = 0; c < channels; ++c) {
            const std::uint16_t s =
                p.samples.at((static_cast<std::size_t>(y) * p.width + x) * channels + c);
            if (p.bitDepth == 16) {
                raw.push_back(static_cast<std::uint8_t>(s >> 8));
                raw.push_back(static_cast<std::uint8_t>(s));
            } else if (p.bitDepth == 8) {
                raw.push_back(static_cast<std::uint8_t>(s));
            } else {
                acc = acc << p.bitDepth | s;
                bits += p.bitDepth;
                if (bits == 8) {
                    raw.push_back(static_cast<std::uint8_t>(acc));
                    acc = 0;
                    bits = 0;
                }
            }
        }
    }
    if (bits > 0) {
        raw.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
    }
}

} // namespace

Bytes encodePng(const PngPicture& p) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put32(header, static_cast<std::uint32_t>(p.width));
    put32(header, static_cast<std::uint32_t>(p.height));
    header.insert(header.end(),
                  {static_cast<std::uint8_t>(p.bitDepth), static_cast<std::uint8_t>(p.colourType),
                   0, 0, static_cast<std::uint8_t>(p.interlaced ? 1 : 0)});
    putChunk(out, "IHDR", header);
    if (!p.palette.empty()) {
        Bytes plte;
        for (const auto& entry : p.palette) {
            plte.insert(plte.end(), entry.begin(), entry.end());
        }
        putChunk(out, "PLTE", plte);
    }
    if (!p.transparency.empty()) {
        putChunk(out, "tRNS", p.transparency);
    }

    Bytes raw;
    if (p.interlaced) {
        struct Pass {
            int x0, y0, dx, dy;
        };
        constexpr Pass passes[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const Pass& pass : passes) {
            if (pass.x0 >= p.width) {
                continue; // an empty pass has no rows at all
            }
            for (int y = pass.y0; y < p.height; y += pass.dy) {
                putRow(raw, p, y, pass.x0, pass.dx);
            }
        }
    } else {
        for (int y = 0; y < p.height; ++y) {
            putRow(raw, p, y, 0, 1);
        }
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
        throw std::runtime_error("zlib compress failed");
    }
    packed.resize(size);
    putChunk(out, "IDAT", packed);
    putChunk(out, "IEND", {});
    return out;
}

Bytes withPngDimensions(Bytes png, std::uint32_t width, std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png.at(16 + i) = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png.at(20 + i) = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    fixPngChecksums(png);
    return png;
}

void fixPngChecksums(Bytes& png) {
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = get32(png, at);
        if (at + 12 + length > png.size()) {
            return;
        }
        const auto crc = crc32(0, png.data() + at + 4, static_cast<uInt>(length + 4));
        for (int i = 0; i < 4; ++i) {
            png[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        }
        at += 12 + length;
    }
}

std::size_t lastPngChunk(const Bytes& png) {
    std::size_t at = 8;
    std::size_t last = at;
    while (at + 12 <= png.size()) {
        last = at;
        at += 12 + get32(png, at);
    }
    return last;
}

Bytes encodeJpeg(const JpegPicture& p) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(p.width);
    info.image_height = static_cast<JDIMENSION>(p.height);
    info.input_components = p.components;
    info.in_color_space = p.components == 1   ? JCS_GRAYSCALE
                          : p.components == 3 ? JCS_RGB
                                              : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, p.quality, TRUE);
    if (p.components == 4) {
        info.write_Adobe_marker = p.adobeCmyk ? TRUE : FALSE;
    }
    if (p.progressive) {
        jpeg_simple_progression(&info);
    }
    std::vector<jpeg_scan_info> scans;
    if (p.everyBitItsOwnScan) {
        // Each band (the DC term, then each AC coefficient alone) is sent at its top bits first
        // and refined one bit per scan.
        constexpr int kLowestBit = 10; // the deepest split libjpeg allows for 8-bit samples
        for (int k = 0; k < 64; ++k) {
            scans.push_back({1, {0, 0, 0, 0}, k, k, 0, kLowestBit});
            for (int bit = kLowestBit; bit > 0; --bit) {
                scans.push_back({1, {0, 0, 0, 0}, k, k, bit, bit - 1});
            }
        }
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(p.width) * p.components;
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(p.samples.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

Bytes withJpegDimensions(Bytes jpeg, std::uint16_t width, std::uint16_t height) {
    for (std::size_t at = 2; at + 9 < jpeg.size(); ++at) {
        if (jpeg[at] == 0xFF && (jpeg[at + 1] == 0xC0 || jpeg[at + 1] == 0xC2)) {
            jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[at + 6] = static_cast<std::uint8_t>(height);
            jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[at + 8] = static_cast<std::uint8_t>(width);
            return jpeg;
        }
    }
    throw std::runtime_error("no frame header");
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Image decoded(const Bytes& bytes) {
    auto result = picture::decode(bytes);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
    if (!result.ok()) {
        return {};
    }
    EXPECT_EQ(result->rgba.size(), static_cast<std::size_t>(result->width) * result->height * 4);
    return std::move(result).value();
}

} // namespace vantorel::picture::testing
