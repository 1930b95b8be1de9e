// Diagnostics through Qt's logging categories, never the window. Warnings (a load that
// failed, an episode that cannot play) are on by default; the debug lines (each request
// with its timing and size, the network time, the merge's counts) are turned on with
// QT_LOGGING_RULES, e.g. QT_LOGGING_RULES="newsbar.*.debug=true".
#pragma once

#include <QLoggingCategory>
#include <QString>
#include <string>
#include <vector>

namespace newsbar {

Q_DECLARE_LOGGING_CATEGORY(lcNet)        // "newsbar.net": HTTP exchanges
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)  // "newsbar.catalogue": requests, time, merge
Q_DECLARE_LOGGING_CATEGORY(lcMedia)      // "newsbar.media": audio that cannot be opened
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)    // "newsbar.desktop": the session bus, one player

// While one lives on a thread, the warnings that the catalogue's load gives on that thread
// (NEWSBAR_CATALOGUE_WARNING) are gathered here instead of logged, so that a refresh
// running in the background logs one line for a whole attempt. They nest: the innermost
// one gathers.
class WarningGathering {
 public:
  WarningGathering();
  ~WarningGathering();
  WarningGathering(const WarningGathering&) = delete;
  WarningGathering& operator=(const WarningGathering&) = delete;

  const std::vector<std::string>& Lines() const { return lines_; }
  // The one on this thread, or null.
  static WarningGathering* Current();
  void Add(const QString& line) { lines_.push_back(line.toStdString()); }

 private:
  WarningGathering* outer_;
  std::vector<std::string> lines_;
};

}  // namespace newsbar

// qCWarning(lcCatalogue, ...) unless a WarningGathering on this thread takes the line.
#define NEWSBAR_CATALOGUE_WARNING(...)                                                   \
  do {                                                                                   \
    if (::newsbar::WarningGathering* gathering = ::newsbar::WarningGathering::Current()) \
      gathering->Add(QString::asprintf(__VA_ARGS__));                                    \
    else                                                                                 \
      qCWarning(::newsbar::lcCatalogue, __VA_ARGS__);                                    \
  } while (0)

namespace newsbar {}  // namespace newsbar
