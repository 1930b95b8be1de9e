#include "support/log_capture.h"

#include <QString>

namespace newsbar::test {

namespace {
LogCapture* gCapture = nullptr;  // the one installed; set and cleared on the test's thread
}  // namespace

LogCapture::LogCapture() {
  gCapture = this;
  previous_ = qInstallMessageHandler(&LogCapture::Handle);
}

LogCapture::~LogCapture() {
  qInstallMessageHandler(previous_);
  gCapture = nullptr;
}

void LogCapture::Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  LogCapture* capture = gCapture;
  if (capture == nullptr) return;
  std::lock_guard lock(capture->mutex_);
  capture->lines_.push_back(
      {type, context.category ? context.category : "", message.toStdString()});
}

std::vector<LogCapture::Line> LogCapture::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> LogCapture::Warnings(const std::string& category) const {
  std::vector<std::string> warnings;
  for (const Line& line : Lines()) {
    if (line.type == QtWarningMsg && line.category == category) warnings.push_back(line.message);
  }
  return warnings;
}

}  // namespace newsbar::test
