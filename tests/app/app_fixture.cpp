#include "app_fixture.h"

#include <httplib.h>

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

#include "support/httplib_listen.h"
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

MediaServer::MediaServer() : server_(std::make_unique<httplib::Server>()) {
  auto record = [this](const httplib::Request& request) {
    Request seen{request.method, request.path, {}};
    for (const auto& [name, value] : request.headers) {
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      seen.headers.emplace(lower, value);
    }
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(seen));
  };
  auto serve = [this, record](const httplib::Request& request, httplib::Response& response) {
    record(request);
    const std::string name = request.matches[1];
    int delay = 0;
    {
      std::lock_guard lock(mutex_);
      const auto found = delays_.find(name);
      if (found != delays_.end()) delay = found->second;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard lock(mutex_);
    const auto found = files_.find(name);
    if (found == files_.end()) {
      response.status = 404;
      return;
    }
    response.set_content(found->second.first, found->second.second.c_str());
  };
  server_->Get(R"(/media/(.+))", serve);
  port_ = server_->bind_to_any_port("127.0.0.1");
  // Bound already: connections wait in the backlog until the loop accepts them.
  thread_ = ListenInThread(*server_);
}

MediaServer::~MediaServer() {
  server_->stop();
  thread_.join();
}

void MediaServer::Add(const std::string& name, std::string bytes, std::string contentType) {
  std::lock_guard lock(mutex_);
  files_[name] = {std::move(bytes), std::move(contentType)};
}

void MediaServer::Delay(const std::string& name, int ms) {
  std::lock_guard lock(mutex_);
  delays_[name] = ms;
}

std::string MediaServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/media/" + name;
}

std::vector<MediaServer::Request> MediaServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int MediaServer::CountFor(const std::string& name) const {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& request : requests_) count += request.path == "/media/" + name ? 1 : 0;
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
