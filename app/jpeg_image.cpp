#include "app/jpeg_image.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include <QFile>

namespace vn {
namespace {

// Larger pictures are not banners; refusing them keeps a corrupt size field from allocating
// gigabytes.
constexpr JDIMENSION kMaxSide = 8192;

// libjpeg's default error handler ends the process; this one jumps back into the decoder's
// frame instead, and counts warnings (a cut-short file only warns and pads the picture with grey).
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  int warnings;
};

void JumpOnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(errors->jump, 1);
}

void CountWarnings(j_common_ptr info, int level) {
  if (level < 0) ++reinterpret_cast<ErrorManager*>(info->err)->warnings;
}

void StayQuiet(j_common_ptr) {}

// The steps that call into libjpeg. Each holds only trivially destructible locals, so the
// jump back out of libjpeg skips no destructor. Both return false when libjpeg failed.
bool Create(jpeg_decompress_struct& info, ErrorManager& errors) {
  if (setjmp(errors.jump) != 0) return false;
  jpeg_create_decompress(&info);
  return true;
}

bool ReadHeader(jpeg_decompress_struct& info, ErrorManager& errors, const QByteArray& bytes) {
  if (setjmp(errors.jump) != 0) return false;
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  return errors.warnings == 0;
}

bool ReadScanlines(jpeg_decompress_struct& info, ErrorManager& errors, uchar* pixels,
                   qsizetype stride) {
  if (setjmp(errors.jump) != 0) return false;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels + stride * info.output_scanline;
    if (jpeg_read_scanlines(&info, &row, 1) != 1 || errors.warnings != 0) return false;
  }
  jpeg_finish_decompress(&info);
  return errors.warnings == 0;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOnError;
  errors.base.emit_message = CountWarnings;
  errors.base.output_message = StayQuiet;
  if (!Create(info, errors)) return {};

  QImage image;
  if (ReadHeader(info, errors, bytes) && info.output_components == 3 &&
      info.output_width <= kMaxSide && info.output_height <= kMaxSide) {
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull() || !ReadScanlines(info, errors, image.bits(), image.bytesPerLine())) {
      image = QImage();
    }
  }
  jpeg_destroy_decompress(&info);
  return image;
}

QImage LoadJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

}  // namespace vn
