// JPEG through libjpeg. libjpeg reports errors by calling error_exit, which would end the
// program by default; ours jumps back into the function that started the step instead. So
// that the jump never skips a destructor, libjpeg's state lives in the caller's frame and the
// two functions that call setjmp hold only plain values.

#include "picture/Decoders.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace vantorel::picture::detail {

namespace {

// A progressive picture is re-decoded once per scan; ordinary files have about ten. A file
// with thousands of tiny scans would keep the decoder busy for minutes.
constexpr int kMaxScans = 256;

struct ErrorState {
    jpeg_error_mgr manager; // first member: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct JpegState {
    jpeg_decompress_struct info{};
    ErrorState error{};
    jpeg_progress_mgr progress{};
    bool created = false;

    JpegState() = default;
    JpegState(const JpegState&) = delete;
    JpegState& operator=(const JpegState&) = delete;
    ~JpegState() {
        if (created) {
            jpeg_destroy_decompress(&info);
        }
    }
};

[[noreturn]] void jumpOut(j_common_ptr info) {
    auto* state = reinterpret_cast<ErrorState*>(info->err);
    std::longjmp(state->jump, 1);
}

[[noreturn]] void onError(j_common_ptr info) {
    auto* state = reinterpret_cast<ErrorState*>(info->err);
    (*info->err->format_message)(info, state->message);
    jumpOut(info);
}

// Warnings are not printed. Those that mean the data ran out are failures: libjpeg would fill
// the missing rows with grey and the picture would pass for whole.
void onMessage(j_common_ptr info, int level) {
    if (level >= 0) {
        return;
    }
    const int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        onError(info);
    }
    info->err->num_warnings++;
}

void onProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        auto* state = reinterpret_cast<ErrorState*>(info->err);
        std::snprintf(state->message, sizeof state->message, "more than %d scans", kMaxScans);
        jumpOut(info);
    }
}

bool readHeader(JpegState& state, std::span<const std::uint8_t> bytes) {
    state.info.err = jpeg_std_error(&state.error.manager);
    state.error.manager.error_exit = onError;
    state.error.manager.emit_message = onMessage;
    if (setjmp(state.error.jump)) {
        return false;
    }
    jpeg_create_decompress(&state.info);
    state.created = true;
    state.progress.progress_monitor = onProgress;
    state.info.progress = &state.progress;
    jpeg_mem_src(&state.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&state.info, TRUE);
    return true;
}

std::uint8_t scaled(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// One decoded row in grey, RGB or CMYK to RGBA with full alpha. CMYK written by Adobe's
// programs (marked by their APP14 segment) stores every ink inverted.
void expandRow(const JSAMPLE* source, std::uint8_t* target, unsigned width, int components,
               bool invertedInk) {
    for (unsigned x = 0; x < width; ++x, target += 4) {
        if (components == 1) {
            target[0] = target[1] = target[2] = source[x];
        } else if (components == 3) {
            std::memcpy(target, source + x * 3, 3);
        } else {
            const JSAMPLE* ink = source + x * 4;
            const unsigned k = invertedInk ? ink[3] : 255u - ink[3];
            for (int c = 0; c < 3; ++c) {
                target[c] = scaled(invertedInk ? ink[c] : 255u - ink[c], k);
            }
        }
        target[3] = 255;
    }
}

bool readPixels(JpegState& state, std::uint8_t* rgba) {
    if (setjmp(state.error.jump)) {
        return false;
    }
    switch (state.info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        state.info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        state.info.out_color_space = JCS_CMYK;
        break;
    default:
        state.info.out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(&state.info);
    JSAMPARRAY row = (*state.info.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&state.info), JPOOL_IMAGE,
        state.info.output_width * static_cast<JDIMENSION>(state.info.output_components), 1);
    const std::size_t stride = static_cast<std::size_t>(state.info.output_width) * 4;
    while (state.info.output_scanline < state.info.output_height) {
        std::uint8_t* target = rgba + state.info.output_scanline * stride;
        if (jpeg_read_scanlines(&state.info, row, 1) != 1) {
            std::snprintf(state.error.message, sizeof state.error.message, "no scanline");
            return false;
        }
        expandRow(row[0], target, state.info.output_width, state.info.output_components,
                  state.info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&state.info);
    return true;
}

} // namespace

Result<Image> decodeJpeg(std::span<const std::uint8_t> bytes, const Limits& limits) {
    JpegState state;
    if (!readHeader(state, bytes)) {
        return corrupt(state.error.message);
    }
    if (auto fits = checkDimensions(state.info.image_width, state.info.image_height, limits);
        !fits) {
        return fits.error();
    }
    Image out;
    out.width = static_cast<int>(state.info.image_width);
    out.height = static_cast<int>(state.info.image_height);
    out.rgba.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
    if (!readPixels(state, out.rgba.data())) {
        return corrupt(state.error.message);
    }
    return out;
}

} // namespace vantorel::picture::detail
