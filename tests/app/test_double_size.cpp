// Picture buttons on high-density screens: drawn into a paint device of pixel ratio 2,
// a button shows the double-size drawing of its picture (not the small one blown up),
// while its picture property stays the bytes written. And the focus ring.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QTest>

#include "app/images.h"
#include "app/player_window.h"
#include "runtime/controls.h"

namespace newsbar::test {
namespace {

ByteSet Png(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return ByteSet(png.begin(), png.end());
}

QImage Decode(const ByteSet& bytes) {
  return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
}

// The button drawn into an image of the given pixel ratio, on transparent ground.
QImage Render(QWidget& widget, qreal ratio) {
  QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
  return image;
}

// A red square, and its "double" a one-pixel checkerboard that no scaling of it makes.
struct Pictures {
  ByteSet small;
  ByteSet large;
  Pictures() {
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QImage checks(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) checks.setPixel(x, y, (x + y) % 2 ? 0xff000000 : 0xffffffff);
    }
    small = Png(red);
    large = Png(checks);
  }
};

TEST(DoubleSize, RatioTwoDrawsTheLargeDrawingAndThePictureStaysTheBytesWritten) {
  const Pictures pictures;
  PictureButton::SetDoubleSizeLookup([&](const ByteSet& bytes) -> const ByteSet* {
    return bytes == pictures.small ? &pictures.large : nullptr;
  });
  PictureButton button;
  button.resize(20, 20);
  button.SetPicture(pictures.small);
  EXPECT_EQ(button.Picture(), pictures.small);

  // The picture sits in the middle: 16 px from (2, 2), in device pixels (4, 4) to (35, 35).
  const QImage sharp = Render(button, 2.0);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(sharp.pixel(4 + x, 4 + y), (x + y) % 2 ? 0xff000000u : 0xffffffffu)
          << x << "," << y;
    }
  }
  EXPECT_EQ(Render(button, 1.0).pixel(10, 10), 0xffff0000u);

  // No double for a picture: the small one, scaled up by the painter.
  QImage blue(16, 16, QImage::Format_ARGB32);
  blue.fill(Qt::blue);
  button.SetPicture(Png(blue));
  EXPECT_EQ(Render(button, 2.0).pixel(20, 20), 0xff0000ffu);

  // A new lookup reaches buttons that have drawn already.
  button.SetPicture(pictures.small);
  EXPECT_EQ(Render(button, 2.0).pixel(4, 4), 0xffffffffu);
  PictureButton::SetDoubleSizeLookup(nullptr);
  EXPECT_EQ(Render(button, 2.0).pixel(4, 4), 0xffff0000u);
}

TEST(DoubleSize, ThePlayerWindowsButtonsDrawTheirDoubles) {
  PlayerWindow window(nullptr);
  PictureButton* loop = window.loopButton;  // 24 x 24: its picture at (4, 4)
  const QImage drawn = Render(*loop, 2.0).copy(8, 8, 32, 32);
  const QImage doubled = Decode(DoubleSizeImage(LoopImageInOrder()))
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  ASSERT_EQ(doubled.size(), QSize(32, 32));
  EXPECT_EQ(drawn, doubled);
  EXPECT_EQ(loop->Picture(), LoopImageInOrder());
}

TEST(FocusRing, AButtonWithTheFocusShowsIt) {
  QWidget window;
  // Away from the corner, where the pointer rests on the offscreen screen (hover shade).
  window.setGeometry(200, 200, 60, 30);
  auto* first = new PictureButton(&window);
  auto* second = new PictureButton(&window);
  first->setGeometry(0, 0, 24, 24);
  second->setGeometry(30, 0, 24, 24);
  QImage grey(16, 16, QImage::Format_ARGB32);
  grey.fill(Qt::gray);
  first->SetPicture(Png(grey));
  second->SetPicture(Png(grey));
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  second->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(second->hasFocus());
  const QImage plain = Render(*first, 1.0);
  const QImage ringed = Render(*second, 1.0);
  EXPECT_NE(plain, ringed);
  EXPECT_EQ(plain.pixel(1, 12), 0u);  // the edge is bare without the focus
  EXPECT_NE(ringed.pixel(1, 12), 0u);
}

}  // namespace
}  // namespace newsbar::test
