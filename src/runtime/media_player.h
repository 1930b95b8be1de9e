// One media element at a time, on libmpv. Every call is synchronous and processes no
// window events. Positions in milliseconds, length in whole seconds.
#pragma once

#include <optional>
#include <string_view>

#include "util/types.h"

struct mpv_handle;

namespace newsbar {

// What the platform would have opened the name with (chosen by the extension).
enum class MediaDevice { Video, WaveAudio, CdAudio, MpegVideo, Sequencer, MpegVideo2 };
MediaDevice DeviceForName(std::string_view name);

class MediaPlayer {
 public:
  MediaPlayer();
  ~MediaPlayer();
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  // Closes what was open, then loads name (file path or URL) paused; returns once it is
  // loaded or has failed (bounded).
  bool Open(std::string_view name);
  void Close();
  // 1 playing, 2 stopped, 3 paused, 0 otherwise or nothing open.
  int State();
  // Milliseconds, -1 when it cannot be read.
  int Position();
  // Whole seconds (truncated), 0 when it cannot be read.
  int Length();
  // From the current position, or from fromMs. Clears the toggle-pause flag.
  bool Play(std::optional<int> fromMs = std::nullopt);
  // Pause when the flag is clear, resume when set; flips the flag.
  bool TogglePause();
  // Stops and rewinds to the start.
  bool Stop();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace newsbar
