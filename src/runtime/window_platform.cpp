#include "runtime/window_platform.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstdio>

namespace newsbar {

namespace {

SessionDisplays ReadSessionDisplays() {
  return {.userChosePlatform = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"),
          .wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
          .x11 = !qEnvironmentVariableIsEmpty("DISPLAY")};
}

}  // namespace

std::optional<std::string> PreferredPlatform(const SessionDisplays& session) {
  if (session.userChosePlatform || !session.wayland || !session.x11) return std::nullopt;
  return "xcb";
}

bool HasGraphicalSession(const SessionDisplays& session) {
  return session.userChosePlatform || session.wayland || session.x11;
}

bool RequireGraphicalSession() {
  if (HasGraphicalSession(ReadSessionDisplays())) return true;
  std::fputs("newsbar needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set\n",
             stderr);
  return false;
}

void ChooseWindowPlatform() {
  if (const auto platform = PreferredPlatform(ReadSessionDisplays())) {
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*platform));
  }
}

}  // namespace newsbar
