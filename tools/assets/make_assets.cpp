// Draws newsbar's button pictures, window icon and loading-animation frames.
// Every shape is laid out on a 16-unit grid and rendered at 1x (16 px) and 2x (32 px), so
// the same drawing stays crisp on both kinds of screen. Run through make_assets.sh.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x3b, 0x44, 0x52);     // most glyphs
const QColor kMuted(0x7a, 0x83, 0x90);   // the close cross
const QColor kAccent(0x1f, 0x7a, 0xe0);  // play / pause and the brand

using Drawing = std::function<void(QPainter&)>;

QPen Stroke(const QColor& colour, double width) {
  QPen pen(colour, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

void FillPolygon(QPainter& p, const QColor& colour, const QPolygonF& polygon,
                 double roundness = 0.6) {
  // A thin stroke of the same colour softens the corners of small triangles.
  p.setPen(Stroke(colour, roundness));
  p.setBrush(colour);
  p.drawPolygon(polygon);
}

void FillRoundRect(QPainter& p, const QColor& colour, const QRectF& rect, double radius) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(rect, radius, radius);
}

// Arrow head as a filled triangle whose tip is at `tip`, pointing along (dx, dy).
void ArrowHead(QPainter& p, const QColor& colour, QPointF tip, QPointF direction, double length,
               double halfWidth) {
  const QPointF back = tip - direction * length;
  const QPointF side(-direction.y() * halfWidth, direction.x() * halfWidth);
  FillPolygon(p, colour, QPolygonF({tip, back + side, back - side}), 0.5);
}

void DrawPause(QPainter& p) {
  FillRoundRect(p, kAccent, QRectF(4, 3, 3, 10), 0.8);
  FillRoundRect(p, kAccent, QRectF(9, 3, 3, 10), 0.8);
}

void DrawPlay(QPainter& p) {
  FillPolygon(p, kAccent, QPolygonF({{5, 2.8}, {13, 8}, {5, 13.2}}), 1.2);
}

void DrawPrevious(QPainter& p) {
  FillRoundRect(p, kInk, QRectF(3, 3, 2, 10), 0.6);
  FillPolygon(p, kInk, QPolygonF({{13, 3.3}, {13, 12.7}, {6, 8}}), 1.0);
}

void DrawNext(QPainter& p) {
  FillRoundRect(p, kInk, QRectF(11, 3, 2, 10), 0.6);
  FillPolygon(p, kInk, QPolygonF({{3, 3.3}, {3, 12.7}, {10, 8}}), 1.0);
}

void DrawClose(QPainter& p) {
  p.setPen(Stroke(kMuted, 1.6));
  p.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
  p.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
}

void DrawList(QPainter& p) {
  for (double y : {4.0, 8.0, 12.0}) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(3.5, y), 1.25, 1.25);
    p.setPen(Stroke(kInk, 1.5));
    p.drawLine(QPointF(6.75, y), QPointF(13.25, y));
  }
}

void DrawChevronUp(QPainter& p) {
  p.setPen(Stroke(kInk, 1.7));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({{3.5, 10.5}, {8, 6}, {12.5, 10.5}}));
}

// Two arrows chasing each other round a rounded rectangle, with gaps where each head
// points at the other's tail so the loop reads as a cycle, not a box.
void DrawLoop(QPainter& p) {
  p.setPen(Stroke(kInk, 1.5));
  p.setBrush(Qt::NoBrush);
  QPainterPath upper;
  upper.moveTo(2.75, 9.0);
  upper.lineTo(2.75, 6.5);
  upper.quadTo(2.75, 4.5, 4.75, 4.5);
  upper.lineTo(10.5, 4.5);
  p.drawPath(upper);
  ArrowHead(p, kInk, QPointF(13.4, 4.5), QPointF(1, 0), 3.0, 2.1);
  p.setPen(Stroke(kInk, 1.5));
  p.setBrush(Qt::NoBrush);
  QPainterPath lower;
  lower.moveTo(13.25, 7.0);
  lower.lineTo(13.25, 9.5);
  lower.quadTo(13.25, 11.5, 11.25, 11.5);
  lower.lineTo(5.5, 11.5);
  p.drawPath(lower);
  ArrowHead(p, kInk, QPointF(2.6, 11.5), QPointF(-1, 0), 3.0, 2.1);
}

void DrawLoopOne(QPainter& p) {
  DrawLoop(p);
  // The digit 1 as whole pixels: legible at 16 px and independent of installed fonts.
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawRect(QRectF(8, 6, 1, 4));
  p.drawRect(QRectF(7, 7, 1, 1));
}

void DrawShuffle(QPainter& p) {
  p.setPen(Stroke(kInk, 1.5));
  p.setBrush(Qt::NoBrush);
  QPainterPath rising;
  rising.moveTo(2, 11.5);
  rising.lineTo(4.5, 11.5);
  rising.cubicTo(7.5, 11.5, 7.5, 4.5, 10.5, 4.5);
  rising.lineTo(11.0, 4.5);
  p.drawPath(rising);
  ArrowHead(p, kInk, QPointF(14.2, 4.5), QPointF(1, 0), 3.2, 2.2);
  p.setPen(Stroke(kInk, 1.5));
  p.setBrush(Qt::NoBrush);
  QPainterPath falling;
  falling.moveTo(2, 4.5);
  falling.lineTo(4.5, 4.5);
  falling.cubicTo(7.5, 4.5, 7.5, 11.5, 10.5, 11.5);
  falling.lineTo(11.0, 11.5);
  p.drawPath(falling);
  ArrowHead(p, kInk, QPointF(14.2, 11.5), QPointF(1, 0), 3.2, 2.2);
}

// Two arrows circling the centre.
void DrawRetry(QPainter& p) {
  p.setPen(Stroke(kAccent, 1.5));
  p.setBrush(Qt::NoBrush);
  const QRectF circle(3, 3, 10, 10);
  // Qt angles: 1/16 degree, counter-clockwise from 3 o'clock.
  p.drawArc(circle, 30 * 16, 120 * 16);
  p.drawArc(circle, 210 * 16, 120 * 16);
  // Heads at the clockwise ends of the arcs (30 and 210 degrees), carrying the motion on
  // round the circle; on screen (y down) that direction is (sin a, cos a).
  for (double degrees : {30.0, 210.0}) {
    const double a = degrees * 3.14159265358979 / 180.0;
    const QPointF end(8 + 5 * std::cos(a), 8 - 5 * std::sin(a));
    const QPointF along(std::sin(a), std::cos(a));
    ArrowHead(p, kAccent, end + along * 1.8, along, 3.0, 2.1);
    p.setBrush(Qt::NoBrush);
  }
}

// The window icon: a rounded tile in the brand colour with a play mark and a sound wave.
// assets/icons/newsbar.svg is the same drawing as a scalable icon; change both together.
void DrawAppIcon(QPainter& p) {
  QLinearGradient tile(0, 0, 0, 16);
  tile.setColorAt(0, kAccent.lighter(118));
  tile.setColorAt(1, kAccent.darker(112));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3.5, 3.5);
  FillPolygon(p, Qt::white, QPolygonF({{4.2, 4.6}, {9.2, 8}, {4.2, 11.4}}), 0.8);
  p.setPen(Stroke(Qt::white, 1.3));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(6.0, 4.0, 8, 8), -50 * 16, 100 * 16);
}

bool Render(const Drawing& drawing, const QString& path, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.scale(size / 16.0, size / 16.0);
    drawing(painter);
  }
  // 32-bit colour with alpha, as the buttons expect.
  return image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG");
}

// One frame of the 66 x 6 loading strip: six dots, a bright head running left to right
// with a fading tail; frame 6 lets the tail run out before the loop starts again.
bool RenderLoadingFrame(int frame, const QString& path) {
  const QColor idle(0xd3, 0xd8, 0xdf);
  const QColor trail[] = {kAccent, QColor(0x6a, 0xa8, 0xee), QColor(0xa9, 0xcc, 0xf5)};
  QImage image(66, 6, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int dot = 0; dot < 6; ++dot) {
    const int behind = frame - dot;
    const QColor colour = (behind >= 0 && behind < 3) ? trail[behind] : idle;
    // A 6 x 6 dot with its corner pixels left out: round at this size without needing
    // partial transparency, which GIF cannot hold.
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 6; ++x) {
        const bool corner = (x == 0 || x == 5) && (y == 0 || y == 5);
        if (!corner) image.setPixelColor(dot * 12 + x, y, colour);
      }
    }
  }
  return image.save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_assets ICON_DIR FRAME_DIR\n");
    return 2;
  }
  const QDir icons(QString::fromLocal8Bit(argv[1]));
  const QDir frames(QString::fromLocal8Bit(argv[2]));
  const struct {
    const char* name;
    Drawing drawing;
  } pictures[] = {
      {"pause", DrawPause},
      {"play", DrawPlay},
      {"previous", DrawPrevious},
      {"next", DrawNext},
      {"close", DrawClose},
      {"list", DrawList},
      {"collapse", DrawChevronUp},
      {"loop_in_order", DrawLoop},
      {"loop_repeat_one", DrawLoopOne},
      {"loop_shuffle", DrawShuffle},
      {"retry", DrawRetry},
  };
  bool ok = true;
  for (const auto& picture : pictures) {
    const QString name = QString::fromLatin1(picture.name);
    ok &= Render(picture.drawing, icons.filePath(name + ".png"), 16);
    ok &= Render(picture.drawing, icons.filePath(name + "@2x.png"), 32);
  }
  for (int size : {16, 32, 48, 64, 128}) {
    ok &= Render(DrawAppIcon, icons.filePath(QString("newsbar_%1.png").arg(size)), size);
  }
  for (int frame = 0; frame < 7; ++frame) {
    ok &= RenderLoadingFrame(frame, frames.filePath(QString("frame%1.png").arg(frame)));
  }
  return ok ? 0 : 1;
}
