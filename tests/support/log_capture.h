// Collects what the program logs through Qt's logging categories while it lives, from any
// thread, and puts the previous message handler back when it goes.
#pragma once

#include <QtGlobal>
#include <mutex>
#include <string>
#include <vector>

namespace newsbar::test {

class LogCapture {
 public:
  struct Line {
    QtMsgType type;
    std::string category;
    std::string message;
  };

  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> Lines() const;
  // The warnings of one category, in the order they came.
  std::vector<std::string> Warnings(const std::string& category) const;

 private:
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

  mutable std::mutex mutex_;
  std::vector<Line> lines_;
  QtMessageHandler previous_ = nullptr;
};

}  // namespace newsbar::test
