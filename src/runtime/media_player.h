// One media element at a time, on libmpv. Every call is synchronous and processes no
// window events. Positions in milliseconds, length in whole seconds.
#pragma once

#include <chrono>
#include <memory>
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

  // Closes what was open, then loads name (file path, or an http, https or file URL)
  // paused; returns once it is loaded or has failed, after the open bound at most
  // (10 seconds unless set). Other kinds of names fail.
  bool Open(std::string_view name);
  void SetOpenBound(std::chrono::milliseconds bound);
  void Close();
  // 1 playing, 2 stopped (also once opened, and at the end), 3 paused, 0 otherwise or
  // nothing open.
  int State();
  // Milliseconds, -1 when it cannot be read. At the end of the media it equals the length.
  int Position();
  // Whole seconds (truncated), 0 when it cannot be read.
  int Length();
  // From the current position, or from fromMs. Clears the toggle-pause flag.
  bool Play(std::optional<int> fromMs = std::nullopt);
  // Pause when the flag is clear, resume when set; flips the flag. Pausing what is not
  // playing changes nothing; resuming what is stopped fails.
  bool TogglePause();
  // Stops and rewinds to the start; false when nothing is open.
  bool Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar
