// One media element at a time, on libmpv. No call waits for mpv: commands go out
// asynchronously, and what mpv reports (loads, lengths, positions, the end of a seek)
// reaches the window's thread through mpv's wake-up callback. Positions in milliseconds,
// length in whole seconds.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "runtime/mpv_library.h"
#include "util/types.h"

namespace newsbar {

// Lives on the window's thread and is used only there.
class MediaPlayer : public QObject {
  Q_OBJECT
 public:
  // Starts mpv from the library of that name on a thread of its own and returns at once;
  // Open may be called before it has come. Without the library (or when mpv cannot start)
  // a warning is logged and every Open fails: lengthKnown with length 0.
  explicit MediaPlayer(std::string_view library = kMpvLibraryName);
  ~MediaPlayer() override;
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  // Closes what was open and starts loading name (file path, or an http, https or file
  // URL) paused; returns at once. lengthKnown follows once it has loaded, or has failed,
  // or the open bound (10 seconds unless set) has passed: then nothing is open and the
  // length is 0. Other kinds of names fail (false, and lengthKnown follows all the same).
  bool Open(std::string_view name);
  void SetOpenBound(std::chrono::milliseconds bound);
  // How long a seek may take before the next one goes out regardless (5 seconds).
  void SetSeekBound(std::chrono::milliseconds bound);
  void Close();
  // True from lengthKnown until the next Open or Close.
  bool LengthKnown() const;
  // 1 playing (also while loading to play), 2 stopped (also once opened, and at the end),
  // 3 paused, 0 otherwise or nothing open.
  int State();
  // Milliseconds, -1 when it cannot be read (also while loading). At the end of the media
  // it equals the length; while a seek is on its way it is where the seek goes.
  int Position();
  // Whole seconds (truncated), 0 when it cannot be read or is not known yet.
  int Length();
  // From the current position, or from fromMs. Clears the toggle-pause flag. Seeks do not
  // queue up: while one is under way, only the latest target is kept for after it.
  bool Play(std::optional<int> fromMs = std::nullopt);
  // Pause when the flag is clear, resume when set; flips the flag. Pausing what is not
  // playing changes nothing; resuming what is stopped fails.
  bool TogglePause();
  // Stops and rewinds to the start; false when nothing is open.
  bool Stop();
  // To fromMs without playing or pausing (paused media stays paused); false when nothing
  // is open. Queues up as Play's seeks do.
  bool Seek(int fromMs);
  // Loudness from 0 (silent) to 1 (full), kept across opens; 1 at first.
  void SetVolume(double volume);
  double Volume() const;
  // The title the media is known by outside the program (the desktop's mixer), for what
  // is opened next. A program text (GBK).
  void SetTitle(std::string_view title);

  // A stream lost on the way (refused, reset, timed out, unresolvable, an HTTP error on a
  // reconnect) is not an end: only media read to its end ends. On a loss the player keeps
  // its length and place (Position() stays where the sound stopped, State() reads playing
  // unless paused) and opens the same name again there, with a pause between tries that
  // grows from 1 s to 30 s, for as long as it takes, until Close or Open. Pausing stops
  // the tries and playing resumes them; a seek meanwhile moves the kept place. A network
  // stream that has run dry for a second while the library reconnects on its own also
  // counts as waiting (no sound, the position held), without tries of the player's own.
  bool Waiting() const;
  // The network may have changed under the stream (a resume from sleep): a player that
  // waits tries at once; one that plays a network stream opens it again where it is, in
  // case its connection died on the way.
  void Reconnect();
  // The pauses between tries: `first`, doubled after each try, at most `longest`.
  void SetRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest);
  // How long the media library's own reconnects after a break may wait in all before it
  // gives up (its default, 7 s, unless set); tests shorten it to reach the player's tries.
  void SetLibraryReconnectLimit(std::chrono::seconds limit);
  // True while sound plays: loaded, not paused, not at the end, not waiting.
  bool SoundPlaying() const;

  // Seeks sent to mpv since this player was made (for tests and the benchmark).
  int SeeksSent() const;
  // Tries to open a lost stream again, since this player was made.
  int ReopensSent() const;

 protected:
  // mpv's wake-ups arrive here, on the window's thread.
  void customEvent(QEvent* event) override;

 signals:
  // The media opened with Open has loaded (Length() is its length) or has failed
  // (Length() is 0, nothing open). Raised once per Open, never for an earlier one.
  void lengthKnown();
  // Waiting() has changed.
  void waitingChanged(bool waiting);
  // SoundPlaying() has changed.
  void soundPlayingChanged(bool playing);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar
