#include "app_fixture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <cctype>
#include <cmath>

#include "util/charset.h"
#include "util/duration.h"

namespace newsbar::test {

namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

std::string MakeWav(double seconds, int sampleRate) {
  const auto samples = static_cast<std::uint32_t>(seconds * sampleRate);
  std::string wav = "RIFF";
  PutLe(wav, 36 + samples, 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);
  PutLe(wav, 1, 2);  // PCM
  PutLe(wav, 1, 2);  // mono
  PutLe(wav, static_cast<std::uint32_t>(sampleRate), 4);
  PutLe(wav, static_cast<std::uint32_t>(sampleRate), 4);  // bytes per second
  PutLe(wav, 1, 2);                                       // block align
  PutLe(wav, 8, 2);                                       // bits per sample
  wav += "data";
  PutLe(wav, samples, 4);
  wav.reserve(wav.size() + samples);
  const double step = 2 * 3.14159265358979 * 220.0 / sampleRate;
  for (std::uint32_t i = 0; i < samples; ++i) {
    wav.push_back(static_cast<char>(128 + static_cast<int>(40 * std::sin(step * i))));
  }
  return wav;
}

std::string MakeCover(unsigned rgb) {
  QImage image(24, 24, QImage::Format_RGB32);
  image.fill(QColor::fromRgb(rgb));
  {
    QPainter painter(&image);
    painter.fillRect(6, 6, 12, 12, Qt::white);
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

MediaServer::MediaServer() {
  EXPECT_TRUE(Start());
}

int MediaServer::CountFor(const std::string& name) const {
  int count = 0;
  for (const auto& request : Requests()) count += request.path == "/media/" + name ? 1 : 0;
  return count;
}

PlayerWindow::WorkerRoutine ListingWorker(std::vector<std::vector<Row>> runs,
                                          std::shared_ptr<std::atomic<int>> started) {
  if (!started) started = std::make_shared<std::atomic<int>>(0);
  return [runs = std::move(runs), started](const WorkerTargets& targets) {
    const int run = started->fetch_add(1);
    const auto& rows = runs.at(std::min<std::size_t>(run, runs.size() - 1));
    *targets.loopMode = 1;
    for (const Row& row : rows) {
      const int index = targets.list->AppendRow();
      const Text duration = FormatDuration(row.seconds, Gbk("m分s秒"));
      targets.list->SetCellText(index, 0, Gbk(row.titleUtf8));
      targets.list->SetCellText(index, 1, row.audioUrl);
      targets.list->SetCellText(index, 2, row.coverUrl);
      targets.list->SetCellText(index, 3, duration);
      targets.list->SetCellText(index, 4, duration);
    }
    *targets.lastRow = targets.list->RowCount() - 1;
    targets.doneBox->SetContent("1");
  };
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() >= timeoutMs) return false;
    // Wake at least every 5 ms to look again; any event wakes it earlier.
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

bool WaitForStart(const PlayerWindow& window, int timeoutMs) {
  return WaitUntil([&] { return !window.StartUnderWay(); }, timeoutMs);
}

void HandleEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  WaitUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

Text Gbk(const std::string& utf8) {
  return Utf8ToGbk(utf8);
}
std::string Utf8(const Text& gbk) {
  return GbkToUtf8Text(gbk);
}

}  // namespace newsbar::test
