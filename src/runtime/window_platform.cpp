#include "runtime/window_platform.h"

#include <QByteArray>
#include <QtGlobal>

namespace newsbar {

std::optional<std::string> PreferredPlatform(const SessionDisplays& session) {
  if (session.userChosePlatform || !session.wayland || !session.x11) return std::nullopt;
  return "xcb";
}

void ChooseWindowPlatform() {
  const SessionDisplays session{
      .userChosePlatform = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"),
      .wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
      .x11 = !qEnvironmentVariableIsEmpty("DISPLAY")};
  if (const auto platform = PreferredPlatform(session)) {
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*platform));
  }
}

}  // namespace newsbar
