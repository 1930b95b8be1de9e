// Which of Qt's window platforms the player asks for, and whether there is one at all,
// decided before the application object exists.
#pragma once

#include <optional>
#include <string>

namespace newsbar {

// What the environment says about the session and a platform the user chose.
struct SessionDisplays {
  bool userChosePlatform = false;  // QT_QPA_PLATFORM is set
  bool wayland = false;            // WAYLAND_DISPLAY is set
  bool x11 = false;                // DISPLAY is set (on Wayland: XWayland)
};

// On Wayland a top-level window cannot place itself, and the bar belongs near the top-left
// corner: where X11 is at hand too, the X11 platform ("xcb"). Nothing when the user chose
// a platform or there is no X11 to choose.
std::optional<std::string> PreferredPlatform(const SessionDisplays& session);

// Whether a window can be shown: a display to show it on, or a platform the user chose
// (Qt's offscreen and minimal platforms need no display).
bool HasGraphicalSession(const SessionDisplays& session);

// Reads the environment. Without a graphical session it says so in one line on stderr and
// returns false, and the caller ends with status 1 before Qt looks for a platform plugin
// (whose own report is a page of plugin names and an abort).
bool RequireGraphicalSession();

// Reads the environment and, where PreferredPlatform says so, sets QT_QPA_PLATFORM for
// this process. Call before the application object is made.
void ChooseWindowPlatform();

}  // namespace newsbar
