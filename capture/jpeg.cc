#include "capture/jpeg.h"

// clang-format off
#include <cstddef>
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace mirestal {
namespace {

// libjpeg reports fatal errors through error_exit, which by default calls exit(). Ours jumps
// back to the setjmp of the function that drives libjpeg. Those functions hold no objects with
// destructors between setjmp and the last libjpeg call, so the jump skips no clean-up.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int warnings;  // corrupt-data warnings: the picture decodes, marked damaged
};

extern "C" void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings (for example "Premature end of JPEG file") are counted, not printed.
extern "C" void EmitMessage(j_common_ptr cinfo, int level) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0) {
    if (manager->warnings++ == 0) (*cinfo->err->format_message)(cinfo, manager->message);
  }
}

void InitErrors(ErrorManager* manager) {
  jpeg_std_error(&manager->pub);
  manager->pub.error_exit = ErrorExit;
  manager->pub.emit_message = EmitMessage;
  manager->message[0] = '\0';
  manager->warnings = 0;
}

// Decoding may use at most this much of libjpeg's own memory (coefficient buffers of
// progressive files included); more makes libjpeg fail instead of allocating.
constexpr long kMaxDecoderMemory = 256L * 1024 * 1024;

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

// Returns true on success; on failure `message` holds libjpeg's text. *out is allocated by
// libjpeg's memory destination and belongs to the caller in both cases.
bool EncodeRaw(const Bitmap* bitmap, int quality, unsigned char** out, unsigned long* out_size,
               char* message) {
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  cinfo.err = &errors.pub;
  InitErrors(&errors);
  if (setjmp(errors.jump)) {
    std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(bitmap->width);
  cinfo.image_height = static_cast<JDIMENSION>(bitmap->height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bitmap->Row(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

// kDamaged: the header was read and the picture decoded as far as possible, with warnings or
// with an error part way through the data.
enum class DecodeStatus { kOk, kLibjpegError, kTooLarge, kDamaged };

// Four-channel rows (CMYK as libjpeg gives it) to RGB in place, left to right so that each RGB
// pixel is written behind the CMYK pixel it comes from. Adobe files hold inverted CMYK.
void CmykRowToRgb(unsigned char* row, int width, bool inverted) {
  for (int x = 0; x < width; ++x) {
    const unsigned char* in = row + 4 * x;
    int c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    unsigned char* out = row + 3 * x;
    out[0] = static_cast<unsigned char>((c * k + 127) / 255);
    out[1] = static_cast<unsigned char>((m * k + 127) / 255);
    out[2] = static_cast<unsigned char>((y * k + 127) / 255);
  }
}

// Reads the header and, when `pixels` is not null, decodes into it (RGB rows, top down; the
// buffer is sized from the header and starts grey). Same contract as EncodeRaw. `cmyk_row`
// holds one four-channel row for CMYK and YCCK files.
DecodeStatus DecodeRaw(const unsigned char* data, size_t size, JpegHeader* header, Bitmap* pixels,
                       std::vector<unsigned char>* cmyk_row, char* message, int scale_denom = 1) {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  cinfo.err = &errors.pub;
  InitErrors(&errors);
  // Changed between setjmp and a possible longjmp, hence volatile.
  volatile bool decoding = false;
  if (setjmp(errors.jump)) {
    std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&cinfo);
    return decoding ? DecodeStatus::kDamaged : DecodeStatus::kLibjpegError;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  header->width = static_cast<int>(cinfo.image_width);
  header->height = static_cast<int>(cinfo.image_height);
  header->components = cinfo.num_components;
  header->grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  header->progressive = jpeg_has_multiple_scans(&cinfo);
  if (cinfo.image_width > kMaxJpegDimension || cinfo.image_height > kMaxJpegDimension ||
      static_cast<long long>(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
    jpeg_destroy_decompress(&cinfo);
    return DecodeStatus::kTooLarge;
  }
  if (pixels != nullptr) {
    const bool four_channels =
        cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool inverted = cinfo.saw_Adobe_marker;
    cinfo.out_color_space = four_channels ? JCS_CMYK : JCS_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(scale_denom);
    jpeg_calc_output_dimensions(&cinfo);
    // From here on a failure still leaves a picture of the output's size.
    pixels->width = static_cast<int>(cinfo.output_width);
    pixels->height = static_cast<int>(cinfo.output_height);
    pixels->pixels.assign(static_cast<size_t>(cinfo.output_width) * cinfo.output_height * 3, 128);
    if (four_channels) cmyk_row->resize(static_cast<size_t>(cinfo.output_width) * 4);
    decoding = true;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      const int y = static_cast<int>(cinfo.output_scanline);
      JSAMPROW row = four_channels ? cmyk_row->data() : pixels->Row(y);
      if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
      if (four_channels) {
        CmykRowToRgb(row, pixels->width, inverted);
        std::memcpy(pixels->Row(y), row, static_cast<size_t>(pixels->width) * 3);
      }
    }
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  if (errors.warnings > 0 && pixels != nullptr) {
    std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
    return DecodeStatus::kDamaged;
  }
  return DecodeStatus::kOk;
}

void ThrowDecodeStatus(DecodeStatus status, const JpegHeader& header, const char* message) {
  switch (status) {
    case DecodeStatus::kOk:
      return;
    case DecodeStatus::kTooLarge:
      throw EJpegTooLarge("JPEG image too large: " + std::to_string(header.width) + "x" +
                       std::to_string(header.height));
    case DecodeStatus::kLibjpegError:
      throw EJpegError(message);
    case DecodeStatus::kDamaged:
      return;
  }
}

}  // namespace

std::string EncodeJpeg(const Bitmap& bitmap, int quality) {
  if (bitmap.empty()) throw EJpegError("cannot encode an empty picture");
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX];
  bool ok = EncodeRaw(&bitmap, quality, &buffer, &size, message);
  std::unique_ptr<unsigned char, FreeDeleter> owner(buffer);
  if (!ok) throw EJpegError(message);
  return std::string(reinterpret_cast<const char*>(buffer), size);
}

JpegHeader ReadJpegHeader(std::string_view file) {
  JpegHeader header;
  char message[JMSG_LENGTH_MAX];
  DecodeStatus status = DecodeRaw(reinterpret_cast<const unsigned char*>(file.data()), file.size(),
                                  &header, nullptr, nullptr, message);
  ThrowDecodeStatus(status, header, message);
  return header;
}

DecodedJpeg DecodeJpegDetailed(std::string_view file) { return DecodeJpegScaled(file, 1); }

DecodedJpeg DecodeJpegScaled(std::string_view file, int scale_denom) {
  if (scale_denom != 1 && scale_denom != 2 && scale_denom != 4 && scale_denom != 8) {
    throw EJpegError("JPEG scale 1/" + std::to_string(scale_denom) + " is not 1/1, 1/2, 1/4 or 1/8");
  }
  JpegHeader header;
  DecodedJpeg result;
  std::vector<unsigned char> cmyk_row;
  char message[JMSG_LENGTH_MAX];
  DecodeStatus status = DecodeRaw(reinterpret_cast<const unsigned char*>(file.data()), file.size(),
                                  &header, &result.bitmap, &cmyk_row, message, scale_denom);
  ThrowDecodeStatus(status, header, message);
  if (status == DecodeStatus::kDamaged) {
    result.damaged = true;
    result.problem = message;
  }
  return result;
}

Bitmap DecodeJpeg(std::string_view file) { return DecodeJpegDetailed(file).bitmap; }

}  // namespace mirestal
