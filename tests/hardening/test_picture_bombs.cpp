// Crafted cover pictures: headers that ask for gigapixels (decompression bombs),
// truncated and corrupt files. The cover box refuses each before decoding a pixel, at
// once, and shows nothing; the picture box keeps working for the next cover. One of
// them is then served as an episode's cover to the real window.
#include <gtest/gtest.h>

#include <zlib.h>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QMovie>

#include "hardening_harness.h"
#include "runtime/controls.h"
#include "runtime/image_decode.h"
#include "support/fault_server.h"

namespace newsbar::test {
namespace {

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes.toStdString();
}

QImage Sample() {
  QImage image(64, 64, QImage::Format_RGB32);
  image.fill(QColor(30, 120, 200));
  return image;
}

void PutBe32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string PngChunk(const std::string& type, const std::string& data) {
  std::string chunk;
  PutBe32(chunk, static_cast<std::uint32_t>(data.size()));
  const std::string body = type + data;
  chunk += body;
  PutBe32(chunk, static_cast<std::uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  return chunk;
}

// A PNG whose header claims width x height, with a few compressed bytes of pixels.
std::string PngClaiming(std::uint32_t width, std::uint32_t height) {
  std::string header;
  PutBe32(header, width);
  PutBe32(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, not interlaced
  const std::string zeros(4096, '\0');
  uLongf size = compressBound(zeros.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(zeros.data()), zeros.size());
  packed.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", packed) +
         PngChunk("IEND", "");
}

// The sample JPEG with its frame header rewritten to claim width x height.
std::string JpegClaiming(int width, int height, bool progressive = false) {
  QImage image = Sample();
  std::string jpeg = Encode(image, "JPEG");
  const std::size_t frame = jpeg.find("\xFF\xC0");
  if (frame == std::string::npos) return jpeg;
  if (progressive) jpeg[frame + 1] = '\xC2';
  jpeg[frame + 5] = static_cast<char>(height >> 8);
  jpeg[frame + 6] = static_cast<char>(height & 0xFF);
  jpeg[frame + 7] = static_cast<char>(width >> 8);
  jpeg[frame + 8] = static_cast<char>(width & 0xFF);
  return jpeg;
}

// A one-pixel GIF whose logical screen and image are sized as given.
std::string Gif(int screenWidth, int screenHeight, int imageWidth, int imageHeight) {
  std::string gif = "GIF89a";
  PutLe(gif, static_cast<std::uint32_t>(screenWidth), 2);
  PutLe(gif, static_cast<std::uint32_t>(screenHeight), 2);
  gif += std::string("\x80\x00\x00", 3);              // a global table of two colours
  gif += std::string("\xFF\x80\x00\x00\x00\x00", 6);  // orange, black
  gif += ',';                                         // image descriptor
  PutLe(gif, 0, 2);
  PutLe(gif, 0, 2);
  PutLe(gif, static_cast<std::uint32_t>(imageWidth), 2);
  PutLe(gif, static_cast<std::uint32_t>(imageHeight), 2);
  gif += '\0';
  gif += std::string("\x02\x02\x44\x01\x00", 5);  // clear, pixel 0, end
  gif += ';';
  return gif;
}

// A BMP header for a 24-bit picture of width x height (negative: top-down) and a few
// bytes of pixels.
std::string BmpClaiming(std::int32_t width, std::int32_t height) {
  std::string info;
  PutLe(info, 40, 4);
  PutLe(info, static_cast<std::uint32_t>(width), 4);
  PutLe(info, static_cast<std::uint32_t>(height), 4);
  PutLe(info, 1, 2);
  PutLe(info, 24, 2);
  PutLe(info, 0, 4);  // no compression
  PutLe(info, 0, 4);
  PutLe(info, 2835, 4);
  PutLe(info, 2835, 4);
  PutLe(info, 0, 4);
  PutLe(info, 0, 4);
  const std::string pixels(64, '\x40');
  std::string bmp = "BM";
  PutLe(bmp, static_cast<std::uint32_t>(14 + info.size() + pixels.size()), 4);
  PutLe(bmp, 0, 4);
  PutLe(bmp, static_cast<std::uint32_t>(14 + info.size()), 4);
  return bmp + info + pixels;
}

struct Crafted {
  const char* name;
  std::function<std::string()> bytes;
};

void PrintTo(const Crafted& crafted, std::ostream* out) {
  *out << crafted.name;
}

ByteSet Bytes(const std::string& text) {
  return ByteSet(text.begin(), text.end());
}

const Crafted kCrafted[] = {
    {"PngGigapixel", [] { return PngClaiming(100000, 100000); }},
    {"PngJustTooWide", [] { return PngClaiming(4097, 1); }},
    {"PngJustTooTall", [] { return PngClaiming(1, 4097); }},
    {"PngZeroWidth", [] { return PngClaiming(0, 10); }},
    {"JpegGigapixel", [] { return JpegClaiming(60000, 60000); }},
    {"JpegProgressiveGigapixel", [] { return JpegClaiming(30000, 30000, true); }},
    {"JpegZeroHeight", [] { return JpegClaiming(64, 0); }},
    // A small frame on a huge logical screen: the screen is what gets allocated.
    {"GifHugeScreen", [] { return Gif(30000, 30000, 1, 1); }},
    {"GifScreenJustTooWide", [] { return Gif(10246, 4, 1, 1); }},
    {"BmpGigapixel", [] { return BmpClaiming(50000, 50000); }},
    {"BmpTopDownGigapixel", [] { return BmpClaiming(50000, -50000); }},
    {"PngTruncated",
     [] {
       const std::string png = Encode(Sample(), "PNG");
       return png.substr(0, png.size() / 2);
     }},
    {"JpegTruncated",
     [] {
       const std::string jpeg = Encode(Sample(), "JPEG");
       return jpeg.substr(0, jpeg.size() / 2);
     }},
    {"PngBadChecksum",
     [] {
       std::string png = Encode(Sample(), "PNG");
       png[png.size() / 2] = static_cast<char>(png[png.size() / 2] ^ 0x5A);
       return png;
     }},
    {"PngSignatureThenNoise",
     [] { return std::string("\x89PNG\r\n\x1a\n", 8) + std::string(500, '\x7F'); }},
    {"JpegSignatureThenNoise",
     [] { return std::string("\xFF\xD8\xFF", 3) + std::string(500, '\x11'); }},
    {"GifSignatureOnly", [] { return std::string("GIF89a"); }},
};

class CraftedCover : public testing::TestWithParam<Crafted> {};

TEST_P(CraftedCover, RefusedAtOnceAndNothingShown) {
  const ByteSet bytes = Bytes(GetParam().bytes());
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(DecodePicture(bytes).isNull());
  PictureBox box;
  box.resize(101, 101);
  box.SetPicture(bytes);
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_TRUE(box.StillImage().isNull());
  EXPECT_EQ(box.Animation(), nullptr);
  // The same box shows the next good cover.
  box.SetPicture(Bytes(Encode(Sample(), "PNG")));
  EXPECT_FALSE(box.StillImage().isNull());
}

INSTANTIATE_TEST_SUITE_P(Pictures, CraftedCover, testing::ValuesIn(kCrafted),
                         [](const testing::TestParamInfo<Crafted>& info) {
                           return std::string(info.param.name);
                         });

// The pictures just within the limit still show, so the refusal above is the limit's.
TEST(CoverLimits, PicturesAtTheLimitShow) {
  EXPECT_FALSE(DecodePicture(Bytes(Encode(QImage(4096, 1, QImage::Format_RGB32), "PNG"))).isNull());
  EXPECT_FALSE(DecodePicture(Bytes(Gif(4096, 2, 1, 1))).isNull());
  EXPECT_FALSE(DecodePicture(Bytes(Encode(Sample(), "JPEG"))).isNull());
  // A frame larger than its screen is cut to the screen: nothing big is made.
  const QImage clipped = DecodePicture(Bytes(Gif(1, 1, 30000, 30000)));
  EXPECT_LE(clipped.width(), 1);
  EXPECT_LE(clipped.height(), 1);
}

// A bomb served as the first episode's cover: the window plays on without a cover.
TEST(CraftedCoverInTheWindow, BombIsNotShownAndTheEpisodePlays) {
  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints());
  FaultServer server(Fault::kNone, PngClaiming(100000, 100000), "image/png");
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kEmptyList);
  auto episodes = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 1);
  episodes[0].coverUrl = server.Url("/bomb.png");
  fixture.SetEpisodes(FixtureProgramme::kEvening, episodes);
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");

  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(20s));
  ASSERT_TRUE(run.ShowsPlaying()) << run.StatusText();
  ASSERT_TRUE(WaitFor([&] { return !run.window().StartUnderWay(); }, 15s));
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(run.window().cover->StillImage().isNull());
  EXPECT_EQ(run.window().cover->Animation(), nullptr);
  EXPECT_EQ(Utf8(run.window().totalLabel->Caption()), "00分01秒");
}

}  // namespace
}  // namespace newsbar::test
