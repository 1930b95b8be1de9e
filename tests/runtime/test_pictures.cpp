#include <gtest/gtest.h>

#include <QBuffer>
#include <QMovie>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "runtime/controls.h"
#include "runtime/image_decode.h"
#include "support/wait_until.h"

namespace newsbar {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// ------------------------------------------------------------------ pictures made here

// A JPEG of the image through libjpeg: RGB, grey, or CMYK (Adobe-inverted, as written
// by the usual tools), baseline or progressive.
enum class JpegKind { Rgb, Grey, Cmyk, Progressive };

ByteSet EncodeJpeg(const QImage& source, JpegKind kind = JpegKind::Rgb) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(source.width());
  cinfo.image_height = static_cast<JDIMENSION>(source.height());
  QImage image;
  switch (kind) {
    case JpegKind::Grey:
      image = source.convertToFormat(QImage::Format_Grayscale8);
      cinfo.input_components = 1;
      cinfo.in_color_space = JCS_GRAYSCALE;
      break;
    case JpegKind::Cmyk:
      image = source.convertToFormat(QImage::Format_RGB32);
      cinfo.input_components = 4;
      cinfo.in_color_space = JCS_CMYK;
      break;
    default:
      image = source.convertToFormat(QImage::Format_RGB888);
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_RGB;
      break;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  if (kind == JpegKind::Progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> cmykRow(static_cast<std::size_t>(image.width()) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(y));
    if (kind == JpegKind::Cmyk) {
      // Inverted CMYK: C = R, M = G, Y = B, K = 255 gives back R, G, B.
      for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, y);
        cmykRow[x * 4 + 0] = static_cast<std::uint8_t>(qRed(pixel));
        cmykRow[x * 4 + 1] = static_cast<std::uint8_t>(qGreen(pixel));
        cmykRow[x * 4 + 2] = static_cast<std::uint8_t>(qBlue(pixel));
        cmykRow[x * 4 + 3] = 255;
      }
      row = cmykRow.data();
    }
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  ByteSet bytes(out, out + size);
  std::free(out);
  return bytes;
}

// A PNG through libpng from raw rows in the given colour type and depth.
struct PngLayout {
  int width;
  int height;
  int colorType;
  int bitDepth;
  bool interlaced = false;
  std::vector<png_color> palette{};
  std::vector<png_byte> paletteAlpha{};
};

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<ByteSet*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

ByteSet EncodePng(const PngLayout& layout, const std::vector<std::vector<std::uint8_t>>& rows) {
  ByteSet out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendPngBytes, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width),
               static_cast<png_uint_32>(layout.height), layout.bitDepth, layout.colorType,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!layout.palette.empty())
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  if (!layout.paletteAlpha.empty())
    png_set_tRNS(png, info, layout.paletteAlpha.data(),
                 static_cast<int>(layout.paletteAlpha.size()), nullptr);
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

ByteSet EncodeRgbaPng(const QImage& source, bool interlaced = false) {
  const QImage image = source.convertToFormat(QImage::Format_RGBA8888);
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* line = image.constScanLine(y);
    rows.emplace_back(line, line + image.width() * 4);
  }
  return EncodePng({image.width(), image.height(), PNG_COLOR_TYPE_RGB_ALPHA, 8, interlaced}, rows);
}

// A GIF with a 128-colour table; each frame is a list of palette indices. The LZW data
// uses 8-bit codes with a clear code every 100 pixels, so no code ever grows.
ByteSet EncodeGif(int width, int height, const std::vector<std::vector<std::uint8_t>>& frames,
                  const std::vector<QRgb>& colours, bool loopForever, int delayCentiseconds) {
  ByteSet out;
  auto put16 = [&](int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  };
  for (char c : std::string("GIF89a")) out.push_back(static_cast<std::uint8_t>(c));
  put16(width);
  put16(height);
  out.insert(out.end(), {0xF6, 0x00, 0x00});  // global table of 128 colours
  for (int i = 0; i < 128; ++i) {
    const QRgb colour = i < static_cast<int>(colours.size()) ? colours[i] : qRgb(0, 0, 0);
    out.insert(out.end(),
               {static_cast<std::uint8_t>(qRed(colour)), static_cast<std::uint8_t>(qGreen(colour)),
                static_cast<std::uint8_t>(qBlue(colour))});
  }
  if (loopForever) {
    out.insert(out.end(), {0x21, 0xFF, 0x0B});
    for (char c : std::string("NETSCAPE2.0")) out.push_back(static_cast<std::uint8_t>(c));
    out.insert(out.end(), {0x03, 0x01, 0x00, 0x00, 0x00});
  }
  for (const auto& frame : frames) {
    out.insert(out.end(), {0x21, 0xF9, 0x04, 0x00});
    put16(delayCentiseconds);
    out.insert(out.end(), {0x00, 0x00});
    out.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    out.push_back(0x00);
    out.push_back(0x07);  // minimum code size: codes start at 8 bits
    std::vector<std::uint8_t> codes;
    for (std::size_t i = 0; i < frame.size(); ++i) {
      if (i % 100 == 0) codes.push_back(0x80);  // clear
      codes.push_back(frame[i]);
    }
    codes.push_back(0x81);  // end of information
    for (std::size_t i = 0; i < codes.size(); i += 255) {
      const std::size_t n = std::min<std::size_t>(255, codes.size() - i);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), codes.begin() + static_cast<long>(i),
                 codes.begin() + static_cast<long>(i + n));
    }
    out.push_back(0x00);
  }
  out.push_back(0x3B);
  return out;
}

ByteSet EncodeWithQt(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return ByteSet(data.begin(), data.end());
}

QImage Quarters(int width, int height) {
  // Four solid quarters: red, green, blue, white.
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      image.setPixel(x, y,
                     bottom ? (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255))
                            : (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0)));
    }
  }
  return image;
}

void ExpectNear(QRgb actual, QRgb expected, int tolerance) {
  EXPECT_NEAR(qRed(actual), qRed(expected), tolerance);
  EXPECT_NEAR(qGreen(actual), qGreen(expected), tolerance);
  EXPECT_NEAR(qBlue(actual), qBlue(expected), tolerance);
}

void ExpectQuarters(const QImage& image, int width, int height, int tolerance) {
  ASSERT_FALSE(image.isNull());
  ASSERT_EQ(image.size(), QSize(width, height));
  const int x0 = width / 4, x1 = 3 * width / 4, y0 = height / 4, y1 = 3 * height / 4;
  ExpectNear(image.pixel(x0, y0), qRgb(255, 0, 0), tolerance);
  ExpectNear(image.pixel(x1, y0), qRgb(0, 255, 0), tolerance);
  ExpectNear(image.pixel(x0, y1), qRgb(0, 0, 255), tolerance);
  ExpectNear(image.pixel(x1, y1), qRgb(255, 255, 255), tolerance);
}

// Sets the four bytes at offset (big-endian).
void Put32(ByteSet& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Recomputes the CRC of the PNG chunk whose length field is at `offset`.
void FixPngCrc(ByteSet& bytes, std::size_t offset) {
  const std::uint32_t length = (std::uint32_t{bytes[offset]} << 24) |
                               (std::uint32_t{bytes[offset + 1]} << 16) |
                               (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
  const uLong crc = crc32(0, bytes.data() + offset + 4, length + 4);
  Put32(bytes, offset + 8 + length, static_cast<std::uint32_t>(crc));
}

// Offset of the first chunk of that type (its length field).
std::size_t FindPngChunk(const ByteSet& bytes, const char* type) {
  std::size_t offset = 8;
  while (offset + 8 <= bytes.size()) {
    const std::uint32_t length = (std::uint32_t{bytes[offset]} << 24) |
                                 (std::uint32_t{bytes[offset + 1]} << 16) |
                                 (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
    if (std::memcmp(bytes.data() + offset + 4, type, 4) == 0) return offset;
    offset += 12 + length;
  }
  return 0;
}

// ------------------------------------------------------------------------------ decoding

TEST(DecodeJpeg, EveryKindOfJpegComesOutRight) {
  const QImage source = Quarters(32, 24);
  ExpectQuarters(DecodeJpeg(EncodeJpeg(source)), 32, 24, 12);
  ExpectQuarters(DecodeJpeg(EncodeJpeg(source, JpegKind::Progressive)), 32, 24, 12);
  ExpectQuarters(DecodeJpeg(EncodeJpeg(source, JpegKind::Cmyk)), 32, 24, 12);

  const QImage grey = DecodeJpeg(EncodeJpeg(source, JpegKind::Grey));
  ASSERT_EQ(grey.size(), QSize(32, 24));
  ExpectNear(grey.pixel(24, 18), qRgb(255, 255, 255), 8);
  EXPECT_EQ(qRed(grey.pixel(8, 6)), qGreen(grey.pixel(8, 6)));
}

TEST(DecodeJpeg, DamagedOrOversizedGivesNothing) {
  const ByteSet good = EncodeJpeg(Quarters(16, 16));
  ASSERT_FALSE(DecodeJpeg(good).isNull());

  // Every truncation, from the empty set to one byte short.
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_TRUE(
        DecodeJpeg(ByteSet(good.begin(), good.begin() + static_cast<long>(length))).isNull());
  }
  // A signature followed by rubbish.
  EXPECT_TRUE(DecodeJpeg({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x01}).isNull());

  // A header claiming 60000 x 60000: refused before a pixel is decoded.
  ByteSet bomb = good;
  bool patched = false;
  for (std::size_t i = 0; i + 9 < bomb.size(); ++i) {
    if (bomb[i] == 0xFF && bomb[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      bomb[i + 5] = 0xEA;
      bomb[i + 6] = 0x60;
      bomb[i + 7] = 0xEA;
      bomb[i + 8] = 0x60;
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  EXPECT_TRUE(DecodeJpeg(bomb).isNull());

  // The limit itself: 4096 across passes, 4097 does not.
  EXPECT_EQ(DecodeJpeg(EncodeJpeg(Quarters(kMaxPictureSide, 2))).size(), QSize(4096, 2));
  EXPECT_TRUE(DecodeJpeg(EncodeJpeg(Quarters(2, kMaxPictureSide + 1))).isNull());

  // Flipped bytes in the middle: either refused or the right size, never a crash.
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    ByteSet damaged = good;
    for (int flips = 0; flips < 4; ++flips)
      damaged[20 + random() % (damaged.size() - 20)] ^=
          static_cast<std::uint8_t>(1 + random() % 255);
    const QImage image = DecodeJpeg(damaged);
    if (!image.isNull()) {
      EXPECT_LE(image.width(), kMaxPictureSide);
      EXPECT_LE(image.height(), kMaxPictureSide);
    }
  }
}

TEST(DecodePng, EveryColourTypeDepthAndInterlacingComesOutRight) {
  // RGBA with exact alpha, interlaced or not.
  QImage rgba(7, 5, QImage::Format_ARGB32);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) rgba.setPixel(x, y, qRgba(x * 30, y * 50, 200, 40 + x * 20));
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    const QImage image = DecodePng(EncodeRgbaPng(rgba, interlaced));
    ASSERT_EQ(image.size(), rgba.size());
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(image.pixel(x, y), rgba.pixel(x, y)) << x << "," << y;
  }

  // 16-bit grey.
  {
    const QImage image =
        DecodePng(EncodePng({2, 1, PNG_COLOR_TYPE_GRAY, 16}, {{0xFF, 0xFF, 0x80, 0x80}}));
    ASSERT_EQ(image.size(), QSize(2, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(1, 0), qRgb(128, 128, 128));
  }
  // 1-bit grey.
  {
    const QImage image = DecodePng(EncodePng({8, 1, PNG_COLOR_TYPE_GRAY, 1}, {{0b10100000}}));
    ASSERT_EQ(image.size(), QSize(8, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(2, 0), qRgb(255, 255, 255));
  }
  // A palette with a transparent entry.
  {
    PngLayout layout{3, 1, PNG_COLOR_TYPE_PALETTE, 8};
    layout.palette = {{255, 0, 0}, {0, 0, 255}, {0, 128, 0}};
    layout.paletteAlpha = {255, 0};
    const QImage image = DecodePng(EncodePng(layout, {{0, 1, 2}}));
    ASSERT_EQ(image.size(), QSize(3, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
    EXPECT_EQ(image.pixel(2, 0), qRgba(0, 128, 0, 255));
  }
  // RGB without alpha is opaque.
  {
    const QImage image = DecodePng(EncodePng({1, 1, PNG_COLOR_TYPE_RGB, 8}, {{1, 2, 3}}));
    ASSERT_EQ(image.size(), QSize(1, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgba(1, 2, 3, 255));
  }
}

TEST(DecodePng, DamagedOrOversizedGivesNothing) {
  const ByteSet good = EncodeRgbaPng(Quarters(16, 16));
  ASSERT_FALSE(DecodePng(good).isNull());

  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_TRUE(
        DecodePng(ByteSet(good.begin(), good.begin() + static_cast<long>(length))).isNull());
  }

  // A header claiming 20000 x 20000 with a correct checksum.
  ByteSet bomb = good;
  const std::size_t header = FindPngChunk(bomb, "IHDR");
  ASSERT_EQ(header, 8u);
  Put32(bomb, header + 8, 20000);
  Put32(bomb, header + 12, 20000);
  FixPngCrc(bomb, header);
  EXPECT_TRUE(DecodePng(bomb).isNull());

  EXPECT_EQ(DecodePng(EncodeRgbaPng(Quarters(kMaxPictureSide, 1))).size(), QSize(4096, 1));
  EXPECT_TRUE(DecodePng(EncodeRgbaPng(Quarters(kMaxPictureSide + 1, 1))).isNull());
  EXPECT_TRUE(DecodePng(EncodeRgbaPng(Quarters(1, kMaxPictureSide + 1))).isNull());

  // Damaged image data: once caught by the checksum, once (checksum mended) by zlib.
  const std::size_t data = FindPngChunk(good, "IDAT");
  ASSERT_GT(data, 0u);
  ByteSet damaged = good;
  for (std::size_t i = data + 10; i < data + 18; ++i) damaged[i] ^= 0x5A;
  EXPECT_TRUE(DecodePng(damaged).isNull());
  FixPngCrc(damaged, data);
  EXPECT_TRUE(DecodePng(damaged).isNull());
}

TEST(DecodePicture, ChoosesByTheSignature) {
  const QImage quarters = Quarters(20, 10);
  ExpectQuarters(DecodePicture(EncodeJpeg(quarters)), 20, 10, 12);
  ExpectQuarters(DecodePicture(EncodeRgbaPng(quarters)), 20, 10, 0);
  ExpectQuarters(DecodePicture(EncodeWithQt(quarters, "BMP")), 20, 10, 0);
  ExpectQuarters(DecodePicture(EncodeWithQt(quarters, "ICO")), 20, 10, 0);
  const QImage gif = DecodePicture(
      EncodeGif(2, 1, {{1, 2}}, {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 0, 255)}, false, 10));
  ASSERT_EQ(gif.size(), QSize(2, 1));
  EXPECT_EQ(gif.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(gif.pixel(1, 0), qRgb(0, 0, 255));

  EXPECT_EQ(SniffPictureFormat({}), PictureFormat::Unknown);
  EXPECT_TRUE(DecodePicture({}).isNull());
  EXPECT_TRUE(DecodePicture({'<', 'h', 't', 'm', 'l', '>'}).isNull());
  EXPECT_TRUE(DecodePicture({'B', 'M'}).isNull());
  EXPECT_TRUE(DecodePicture({'G', 'I', 'F', '8', '9', 'a'}).isNull());

  // Qt's readers get the same size limit.
  ByteSet wideGif = EncodeGif(2, 1, {{1, 2}}, {qRgb(0, 0, 0), qRgb(255, 0, 0)}, false, 10);
  wideGif[6] = 0x60;  // logical screen 60000 wide
  wideGif[7] = 0xEA;
  EXPECT_TRUE(DecodePicture(wideGif).isNull());
  ByteSet tallBmp = EncodeWithQt(quarters, "BMP");
  tallBmp[22] = 0x60;  // 60000 rows
  tallBmp[23] = 0xEA;
  EXPECT_TRUE(DecodePicture(tallBmp).isNull());
  tallBmp[22] = 0xA0;  // -60000: top-down rows, just as many
  tallBmp[23] = 0x15;
  tallBmp[24] = 0xFF;
  tallBmp[25] = 0xFF;
  EXPECT_TRUE(DecodePicture(tallBmp).isNull());

  // Truncated BMP and GIF: nothing, or at most a picture of the declared size.
  for (const ByteSet& whole :
       {EncodeWithQt(quarters, "BMP"), EncodeGif(20, 10, {std::vector<std::uint8_t>(200, 1)},
                                                 {qRgb(0, 0, 0), qRgb(255, 0, 0)}, false, 10)}) {
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const QImage image =
          DecodePicture(ByteSet(whole.begin(), whole.begin() + static_cast<long>(length)));
      if (!image.isNull()) {
        EXPECT_EQ(image.size(), QSize(20, 10)) << length;
      }
    }
  }
}

// --------------------------------------------------------------------------- PictureBox

class PictureBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    box_.resize(101, 101);
    box_.show();
  }
  bool ShowsNothing() const {
    return box_.Animation() == nullptr && box_.StillImage().isNull() && box_.pixmap().isNull();
  }
  PictureBox box_;
};

TEST_F(PictureBoxTest, StillPicturesFitTheBoxKeepingTheirShape) {
  const ByteSet jpeg = EncodeJpeg(Quarters(200, 100));
  box_.SetPicture(jpeg);
  EXPECT_EQ(box_.Picture(), jpeg);
  EXPECT_EQ(box_.Animation(), nullptr);
  EXPECT_EQ(box_.StillImage().size(), QSize(200, 100));
  EXPECT_EQ(box_.pixmap().size(), QSize(101, 50));

  box_.SetPicture(EncodeRgbaPng(Quarters(40, 40)));
  EXPECT_EQ(box_.pixmap().size(), QSize(101, 101));
}

TEST_F(PictureBoxTest, EmptyOrUndecodableShowsNothing) {
  const ByteSet png = EncodeRgbaPng(Quarters(16, 16));
  const std::vector<ByteSet> bad = {
      {},
      {0x01, 0x02, 0x03},
      ByteSet(png.begin(), png.begin() + static_cast<long>(png.size() / 2)),
      {'G', 'I', 'F', '8', '9', 'a', 0x01},
  };
  for (const ByteSet& bytes : bad) {
    box_.SetPicture(png);
    ASSERT_FALSE(ShowsNothing());
    box_.SetPicture(bytes);
    EXPECT_TRUE(ShowsNothing());
    EXPECT_EQ(box_.Picture(), bytes);
  }
}

TEST_F(PictureBoxTest, AnimatedGifLoopsAndIsReplacedCleanly) {
  const std::vector<QRgb> colours = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 0, 255)};
  // Two frames of 20 ms and no loop count: the box loops it all the same.
  const ByteSet gif =
      EncodeGif(66, 6, {std::vector<std::uint8_t>(66 * 6, 1), std::vector<std::uint8_t>(66 * 6, 2)},
                colours, false, 2);
  box_.SetPicture(gif);
  QMovie* movie = box_.Animation();
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->frameCount(), 2);
  EXPECT_EQ(box_.movie(), movie);
  int frames = 0;
  QObject::connect(movie, &QMovie::frameChanged, [&] { ++frames; });
  EXPECT_TRUE(WaitUntil([&] { return frames >= 6; }, 5s));  // three runs at least
  EXPECT_EQ(movie->currentImage().size(), QSize(66, 6));    // shown at its own size

  // A single frame is a still picture.
  box_.SetPicture(EncodeGif(4, 4, {std::vector<std::uint8_t>(16, 1)}, colours, true, 2));
  EXPECT_EQ(box_.Animation(), nullptr);
  EXPECT_EQ(box_.StillImage().size(), QSize(4, 4));

  box_.SetPicture(gif);
  ASSERT_NE(box_.Animation(), nullptr);
  box_.SetPicture({});
  EXPECT_TRUE(ShowsNothing());
  EXPECT_EQ(box_.movie(), nullptr);
}

}  // namespace
}  // namespace newsbar
