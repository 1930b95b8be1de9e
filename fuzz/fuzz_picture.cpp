// The cover decoders on arbitrary bytes: whatever a cover URL serves must decode to a
// picture within the size limit or to nothing, without a crash, a hang or a huge
// allocation. Every decoder is tried on every input, whatever its signature says.
#include <QCoreApplication>
#include <QImage>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "runtime/image_decode.h"

namespace {

void CheckPicture(const QImage& image) {
  if (image.isNull()) return;
  FUZZ_CHECK(image.width() >= 1 && image.width() <= newsbar::kMaxPictureSide);
  FUZZ_CHECK(image.height() >= 1 && image.height() <= newsbar::kMaxPictureSide);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Qt's image readers (GIF, BMP, ICO) are plugins found through the application.
  // It stays for the life of the process: destroying it from an exit handler would race
  // Qt's own teardown.
  new QCoreApplication(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const newsbar::ByteSet bytes(data, data + size);
  CheckPicture(newsbar::DecodePicture(bytes));
  CheckPicture(newsbar::DecodeJpeg(bytes));
  CheckPicture(newsbar::DecodePng(bytes));
  for (auto format :
       {newsbar::PictureFormat::Gif, newsbar::PictureFormat::Bmp, newsbar::PictureFormat::Ico}) {
    newsbar::PictureSizeWithQt(bytes, format);
    CheckPicture(newsbar::DecodeWithQt(bytes, format));
  }
  return 0;
}
