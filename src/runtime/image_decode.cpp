#include "runtime/image_decode.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <initializer_list>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it names the warning codes.
#include <jerror.h>
#include <png.h>

namespace newsbar {

namespace {

bool StartsWith(const ByteSet& bytes, std::initializer_list<std::uint8_t> signature) {
  if (bytes.size() < signature.size()) return false;
  return std::equal(signature.begin(), signature.end(), bytes.begin());
}

bool WithinLimit(unsigned long width, unsigned long height) {
  return width > 0 && height > 0 && width <= static_cast<unsigned long>(kMaxPictureSide) &&
         height <= static_cast<unsigned long>(kMaxPictureSide);
}

// ---------------------------------------------------------------------------------------
// JPEG. libjpeg reports fatal errors through error_exit, which by default prints and
// calls exit(); ours jumps back to the decode function instead. Only the decode function
// and libjpeg's own C frames lie between setjmp and longjmp, and the decode function keeps
// nothing with a destructor on its stack: everything it touches belongs to the caller.

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool truncated = false;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr cinfo, int level) {
  // Level -1 is a warning about damaged data. Missing data (a truncated file) makes
  // libjpeg fill the rest with grey; we would rather show nothing than half a cover.
  if (level < 0) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (err->pub.msg_code != JWRN_EXTRANEOUS_DATA) err->truncated = true;
  }
}

void OnJpegOutput(j_common_ptr) {}

class JpegDecompressor {
 public:
  JpegDecompressor() {
    std::memset(&cinfo_, 0, sizeof cinfo_);
    cinfo_.err = jpeg_std_error(&err_.pub);
    err_.pub.error_exit = OnJpegError;
    err_.pub.emit_message = OnJpegMessage;
    err_.pub.output_message = OnJpegOutput;
  }
  ~JpegDecompressor() {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;

  jpeg_decompress_struct cinfo_;
  JpegErrorManager err_;
  bool created_ = false;
};

// Decodes into *out; false on any failure (out may then hold a partial image).
bool DecodeJpegInto(JpegDecompressor& d, const ByteSet& bytes, QImage* out) {
  if (setjmp(d.err_.jump)) return false;
  // jpeg_destroy_decompress copes with a struct whose creation failed half-way.
  d.created_ = true;
  jpeg_create_decompress(&d.cinfo_);
  jpeg_mem_src(&d.cinfo_, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&d.cinfo_, TRUE) != JPEG_HEADER_OK) return false;
  if (!WithinLimit(d.cinfo_.image_width, d.cinfo_.image_height)) return false;

  const bool cmyk = d.cinfo_.jpeg_color_space == JCS_CMYK || d.cinfo_.jpeg_color_space == JCS_YCCK;
  // Four bytes a pixel either way, so scanlines go straight into the image.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  d.cinfo_.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
  d.cinfo_.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif
  jpeg_start_decompress(&d.cinfo_);
  if (d.cinfo_.output_components != 4 ||
      !WithinLimit(d.cinfo_.output_width, d.cinfo_.output_height))
    return false;
  *out = QImage(static_cast<int>(d.cinfo_.output_width), static_cast<int>(d.cinfo_.output_height),
                QImage::Format_RGB32);
  if (out->isNull()) return false;
  while (d.cinfo_.output_scanline < d.cinfo_.output_height) {
    JSAMPROW row = out->scanLine(static_cast<int>(d.cinfo_.output_scanline));
    if (jpeg_read_scanlines(&d.cinfo_, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(&d.cinfo_);
  if (d.err_.truncated) return false;

  if (cmyk) {
    // Adobe writes CMYK inverted, which is what every CMYK cover we meet uses.
    for (int y = 0; y < out->height(); ++y) {
      auto* pixel = reinterpret_cast<QRgb*>(out->scanLine(y));
      const std::uint8_t* in = out->constScanLine(y);
      for (int x = 0; x < out->width(); ++x, in += 4) {
        const int c = in[0], m = in[1], yellow = in[2], k = in[3];
        pixel[x] = qRgb(c * k / 255, m * k / 255, yellow * k / 255);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// PNG. Same arrangement: libpng's errors come to OnPngError, which jumps back to the
// setjmp in DecodePngInto; warnings are dropped.

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

struct PngSource {
  const ByteSet* bytes;
  std::size_t offset;
};

void ReadPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (length > source->bytes->size() - source->offset) png_error(png, "truncated");
  std::memcpy(data, source->bytes->data() + source->offset, length);
  source->offset += length;
}

class PngReader {
 public:
  PngReader() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png_) info_ = png_create_info_struct(png_);
  }
  ~PngReader() {
    if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  PngSource source_{};
};

bool DecodePngInto(PngReader& r, const ByteSet& bytes, QImage* out) {
  if (!r.png_ || !r.info_) return false;
  if (setjmp(png_jmpbuf(r.png_))) return false;
  r.source_ = PngSource{&bytes, 0};
  png_set_read_fn(r.png_, &r.source_, ReadPngBytes);
  // libpng itself refuses larger headers; the check below says the same for clarity.
  png_set_user_limits(r.png_, kMaxPictureSide, kMaxPictureSide);
  png_set_chunk_malloc_max(r.png_, 8u << 20);
  png_read_info(r.png_, r.info_);

  const png_uint_32 width = png_get_image_width(r.png_, r.info_);
  const png_uint_32 height = png_get_image_height(r.png_, r.info_);
  if (!WithinLimit(width, height)) return false;
  const int colorType = png_get_color_type(r.png_, r.info_);

  png_set_expand(r.png_);  // palette and low bit depths to 8 bits, tRNS to alpha
  png_set_scale_16(r.png_);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(r.png_);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  png_set_bgr(r.png_);
  png_set_add_alpha(r.png_, 0xFF, PNG_FILLER_AFTER);
#else
  png_set_add_alpha(r.png_, 0xFF, PNG_FILLER_BEFORE);
  png_set_swap_alpha(r.png_);
#endif
  const int passes = png_set_interlace_handling(r.png_);
  png_read_update_info(r.png_, r.info_);
  if (png_get_rowbytes(r.png_, r.info_) != static_cast<png_size_t>(width) * 4) return false;

  *out = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
  if (out->isNull()) return false;
  out->fill(0);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < out->height(); ++y) png_read_row(r.png_, out->scanLine(y), nullptr);
  }
  png_read_end(r.png_, nullptr);
  return true;
}

QByteArray AsByteArray(const ByteSet& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

const char* QtFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::Gif:
      return "gif";
    case PictureFormat::Bmp:
      return "bmp";
    case PictureFormat::Ico:
      return "ico";
    default:
      return nullptr;
  }
}

}  // namespace

PictureFormat SniffPictureFormat(const ByteSet& bytes) {
  if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
  if (StartsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return PictureFormat::Png;
  if (StartsWith(bytes, {'G', 'I', 'F', '8', '7', 'a'}) ||
      StartsWith(bytes, {'G', 'I', 'F', '8', '9', 'a'}))
    return PictureFormat::Gif;
  if (StartsWith(bytes, {'B', 'M'})) return PictureFormat::Bmp;
  if (StartsWith(bytes, {0x00, 0x00, 0x01, 0x00})) return PictureFormat::Ico;
  return PictureFormat::Unknown;
}

QImage DecodeJpeg(const ByteSet& bytes) {
  if (bytes.empty()) return {};
  QImage image;
  JpegDecompressor decompressor;
  if (!DecodeJpegInto(decompressor, bytes, &image)) return {};
  return image;
}

QImage DecodePng(const ByteSet& bytes) {
  if (bytes.empty()) return {};
  QImage image;
  PngReader reader;
  if (!DecodePngInto(reader, bytes, &image)) return {};
  return image;
}

namespace {

std::uint32_t Le(const ByteSet& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[offset + i];
  return value;
}

bool SizeWithinLimit(const QSize& size) {
  return size.isValid() && WithinLimit(static_cast<unsigned long>(size.width()),
                                       static_cast<unsigned long>(size.height()));
}

}  // namespace

QSize PictureSizeWithQt(const ByteSet& bytes, PictureFormat format) {
  const char* name = QtFormatName(format);
  if (!name || bytes.empty()) return {};
  QByteArray data = AsByteArray(bytes);
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, name);
  reader.setDecideFormatFromContent(false);
  QSize size = reader.size();
  if (!size.isValid()) return {};
  // Qt reports a GIF's first frame but paints frames onto the whole logical screen, and
  // may not report a BMP at all before reading it; the headers say what will be
  // allocated.
  if (format == PictureFormat::Gif) {
    if (bytes.size() < 10) return {};
    size = size.expandedTo(
        QSize(static_cast<int>(Le(bytes, 6, 2)), static_cast<int>(Le(bytes, 8, 2))));
  } else if (format == PictureFormat::Bmp) {
    if (bytes.size() < 26) return {};
    const std::uint32_t headerSize = Le(bytes, 14, 4);
    std::int64_t width = 0, height = 0;
    if (headerSize == 12) {  // the oldest header: 16-bit sizes
      width = Le(bytes, 18, 2);
      height = Le(bytes, 20, 2);
    } else {
      width = static_cast<std::int32_t>(Le(bytes, 18, 4));
      height = static_cast<std::int32_t>(Le(bytes, 22, 4));
    }
    if (height < 0) height = -height;  // top-down rows
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return {};
    size = size.expandedTo(QSize(static_cast<int>(width), static_cast<int>(height)));
  }
  return size;
}

QImage DecodeWithQt(const ByteSet& bytes, PictureFormat format) {
  const char* name = QtFormatName(format);
  if (!name || bytes.empty()) return {};
  if (!SizeWithinLimit(PictureSizeWithQt(bytes, format))) return {};
  QByteArray data = AsByteArray(bytes);
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, name);
  reader.setDecideFormatFromContent(false);
  QImage image;
  if (!reader.read(&image) || !SizeWithinLimit(image.size())) return {};
  return image;
}

QImage DecodePicture(const ByteSet& bytes) {
  const PictureFormat format = SniffPictureFormat(bytes);
  switch (format) {
    case PictureFormat::Jpeg:
      return DecodeJpeg(bytes);
    case PictureFormat::Png:
      return DecodePng(bytes);
    case PictureFormat::Gif:
    case PictureFormat::Bmp:
    case PictureFormat::Ico:
      return DecodeWithQt(bytes, format);
    case PictureFormat::Unknown:
      break;
  }
  return {};
}

}  // namespace newsbar
