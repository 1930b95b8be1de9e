#include "runtime/media_player.h"

#include <mpv/client.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "util/charset.h"
#include "util/gbk_text.h"

namespace newsbar {

MediaDevice DeviceForName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return MediaDevice::MpegVideo;
  const std::string extension = gbk::AsciiLower(name.substr(dot + 1, 3));
  if (extension == "avi") return MediaDevice::Video;
  if (extension == "wav") return MediaDevice::WaveAudio;
  if (extension == "cda") return MediaDevice::CdAudio;
  if (extension == "mid" || extension == "rmi" || extension == "idi") return MediaDevice::Sequencer;
  for (const char* second :
       {"asf", "wma", "asx", "ivf", "lsf", "lsx", "p2v", "wax", "wvx", "wmx", "wmp"}) {
    if (extension == second) return MediaDevice::MpegVideo2;
  }
  // "rm", "ra", "mp3", "ram" and everything else.
  return MediaDevice::MpegVideo;
}

namespace {

struct MpvDestroy {
  void operator()(mpv_handle* handle) const { mpv_terminate_destroy(handle); }
};
using MpvPointer = std::unique_ptr<mpv_handle, MpvDestroy>;

struct MpvNodeContents {
  mpv_node node{};
  ~MpvNodeContents() { mpv_free_node_contents(&node); }
};

// Names handed to the player come from the network. mpv understands many pseudo
// protocols (reading other files, file descriptors, filter graphs, playlists built in
// the name); only web addresses and plain file paths are let through.
bool AcceptableName(std::string_view name) {
  if (name.empty() || name == "-") return false;
  if (name.find('\0') != std::string_view::npos) return false;
  const std::size_t scheme = name.find("://");
  if (scheme == std::string_view::npos) return true;  // a file path
  const std::string prefix = gbk::AsciiLower(name.substr(0, scheme));
  return prefix == "http" || prefix == "https" || prefix == "file";
}

// How long a seek may take before Play or Stop carries on without it (a slow stream).
constexpr std::chrono::milliseconds kSeekBound{5000};

// A seek to 3 s may read back as 2.9999999 s; truncating that to 2999 ms would be a lie.
// Anything within a microsecond of the next millisecond counts as that millisecond.
constexpr double kRoundingSlackMs = 0.001;

int TruncateToInt(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::clamp(std::trunc(value), double{INT_MIN}, double{INT_MAX}));
}

}  // namespace

struct MediaPlayer::Impl {
  MpvPointer mpv;
  bool loaded = false;      // a file is open
  bool pausedFlag = false;  // the toggle-pause flag
  bool stopped = true;      // mpv paused because stopped rather than paused by the user
  std::int64_t entryId = -1;
  std::chrono::milliseconds openBound{10000};

  bool GetFlag(const char* name, bool* value) {
    int flag = 0;
    if (mpv_get_property(mpv.get(), name, MPV_FORMAT_FLAG, &flag) < 0) return false;
    *value = flag != 0;
    return true;
  }
  bool GetDouble(const char* name, double* value) {
    return mpv_get_property(mpv.get(), name, MPV_FORMAT_DOUBLE, value) >= 0;
  }
  bool SetPause(bool pause) {
    int flag = pause ? 1 : 0;
    return mpv_set_property(mpv.get(), "pause", MPV_FORMAT_FLAG, &flag) >= 0;
  }
  // Seeks and returns once mpv has carried the seek out (bounded), so that the position
  // read next is the new one: mpv only queues a seek, and until its play loop runs it, the
  // position reads as before.
  bool SeekTo(double seconds) {
    DrainEvents();
    if (!loaded) return false;
    bool seekable = false;
    const bool wait = GetFlag("seekable", &seekable) && seekable;
    const std::string target = std::to_string(std::max(0.0, seconds));
    const char* command[] = {"seek", target.c_str(), "absolute+exact", nullptr};
    if (mpv_command(mpv.get(), command) < 0) return false;
    if (!wait) return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + kSeekBound;
    bool started = false;
    for (;;) {
      const auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
      if (left <= 0) return true;  // issued; the position catches up later
      const mpv_event* event = mpv_wait_event(mpv.get(), left);
      if (event->event_id == MPV_EVENT_SEEK) {
        started = true;
      } else if (event->event_id == MPV_EVENT_PLAYBACK_RESTART && started) {
        return true;
      } else if (!NoteEnd(event)) {
        return false;
      }
    }
  }

  // Takes note of the end of our file; false when it has ended.
  bool NoteEnd(const mpv_event* event) {
    if (event->event_id == MPV_EVENT_END_FILE) {
      const auto* end = static_cast<const mpv_event_end_file*>(event->data);
      if (end->playlist_entry_id == entryId) loaded = false;
    } else if (event->event_id == MPV_EVENT_SHUTDOWN) {
      loaded = false;
    }
    return loaded;
  }

  // Reads what mpv has reported meanwhile; notices when our file has ended on its own
  // (a stream that broke off, say), after which nothing is open.
  void DrainEvents() {
    if (!mpv) return;
    for (;;) {
      const mpv_event* event = mpv_wait_event(mpv.get(), 0);
      if (event->event_id == MPV_EVENT_NONE) return;
      NoteEnd(event);
    }
  }

  bool Loaded() {
    DrainEvents();
    return loaded;
  }

  // Waits on mpv's own queue until entry `id` has loaded or failed, at most openBound.
  bool WaitUntilLoaded(std::int64_t id) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + openBound;
    bool started = false;
    for (;;) {
      const auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      const mpv_event* event = mpv_wait_event(mpv.get(), left);
      switch (event->event_id) {
        case MPV_EVENT_START_FILE: {
          const auto* start = static_cast<const mpv_event_start_file*>(event->data);
          if (id < 0) id = start->playlist_entry_id;
          if (start->playlist_entry_id == id) started = true;
          break;
        }
        case MPV_EVENT_FILE_LOADED:
          // Events come in order: the load that follows our start is ours.
          if (started) {
            entryId = id;
            return true;
          }
          break;
        case MPV_EVENT_END_FILE: {
          const auto* end = static_cast<const mpv_event_end_file*>(event->data);
          if (end->playlist_entry_id != id) break;
          // A playlist was opened: its first entry takes our place.
          if (end->reason == MPV_END_FILE_REASON_REDIRECT && end->playlist_insert_num_entries > 0) {
            id = end->playlist_insert_id;
            started = false;
            break;
          }
          return false;
        }
        case MPV_EVENT_SHUTDOWN:
          return false;
        default:
          break;
      }
    }
  }
};

MediaPlayer::MediaPlayer() : impl_(std::make_unique<Impl>()) {
  // libmpv refuses to start under any other numeric locale.
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  if (!numeric || std::strcmp(numeric, "C") != 0) std::setlocale(LC_NUMERIC, "C");

  MpvPointer mpv(mpv_create());
  if (!mpv) return;
  static const char* const kOptions[][2] = {
      {"config", "no"},
      {"terminal", "no"},
      {"msg-level", "all=no"},
      {"idle", "yes"},
      {"video", "no"},
      {"audio-display", "no"},
      {"osd-level", "0"},
      {"input-default-bindings", "no"},
      {"input-vo-keyboard", "no"},
      {"load-scripts", "no"},
      {"osc", "no"},
      {"ytdl", "no"},
      {"load-stats-overlay", "no"},
      {"load-osd-console", "no"},
      {"load-auto-profiles", "no"},
      {"keep-open", "yes"},
      {"audio-fallback-to-null", "yes"},
      {"network-timeout", "10"},
      {"audio-client-name", "newsbar"},
  };
  for (const auto& option : kOptions) {
    // An option this libmpv does not know is not worth failing over.
    mpv_set_option_string(mpv.get(), option[0], option[1]);
  }
  if (mpv_initialize(mpv.get()) < 0) return;
  impl_->mpv = std::move(mpv);
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::SetOpenBound(std::chrono::milliseconds bound) {
  impl_->openBound = std::max(bound, std::chrono::milliseconds(1));
}

bool MediaPlayer::Open(std::string_view name) {
  Close();
  if (!impl_->mpv || !AcceptableName(name)) return false;
  // The name is a program text (GBK); mpv and the file system want UTF-8.
  const std::string target = GbkToUtf8Text(name);
  if (target.empty()) return false;

  if (!impl_->SetPause(true)) return false;
  const char* command[] = {"loadfile", target.c_str(), "replace", nullptr};
  MpvNodeContents result;
  if (mpv_command_ret(impl_->mpv.get(), command, &result.node) < 0) return false;
  std::int64_t id = -1;
  if (result.node.format == MPV_FORMAT_NODE_MAP) {
    const mpv_node_list* map = result.node.u.list;
    for (int i = 0; i < map->num; ++i) {
      if (std::strcmp(map->keys[i], "playlist_entry_id") == 0 &&
          map->values[i].format == MPV_FORMAT_INT64)
        id = map->values[i].u.int64;
    }
  }
  if (!impl_->WaitUntilLoaded(id)) {
    // Too slow or failed: make sure it does not turn up later.
    const char* stop[] = {"stop", nullptr};
    mpv_command(impl_->mpv.get(), stop);
    impl_->entryId = -1;
    return false;
  }
  impl_->loaded = true;
  impl_->stopped = true;
  return true;
}

void MediaPlayer::Close() {
  if (!impl_->mpv) return;
  if (impl_->loaded) {
    const char* stop[] = {"stop", nullptr};
    mpv_command(impl_->mpv.get(), stop);
  }
  impl_->loaded = false;
  impl_->stopped = true;
  impl_->entryId = -1;
  impl_->DrainEvents();
}

int MediaPlayer::State() {
  if (!impl_->Loaded()) return 0;
  bool eof = false;
  bool paused = false;
  if (impl_->GetFlag("eof-reached", &eof) && eof) return 2;
  if (!impl_->GetFlag("pause", &paused)) return 0;
  if (!paused) return 1;
  return impl_->stopped ? 2 : 3;
}

int MediaPlayer::Position() {
  if (!impl_->Loaded()) return -1;
  double seconds = 0;
  bool eof = false;
  // At the end the position is the length, as the end of a file always read before.
  if (impl_->GetFlag("eof-reached", &eof) && eof && impl_->GetDouble("duration", &seconds))
    return TruncateToInt(seconds * 1000 + kRoundingSlackMs);
  if (!impl_->GetDouble("time-pos", &seconds)) return -1;
  return TruncateToInt(std::max(0.0, seconds) * 1000 + kRoundingSlackMs);
}

int MediaPlayer::Length() {
  if (!impl_->Loaded()) return 0;
  double seconds = 0;
  if (!impl_->GetDouble("duration", &seconds) || seconds < 0) return 0;
  return TruncateToInt(seconds);
}

bool MediaPlayer::Play(std::optional<int> fromMs) {
  impl_->pausedFlag = false;
  if (!impl_->Loaded()) return false;
  if (fromMs && !impl_->SeekTo(*fromMs / 1000.0)) return false;
  if (!impl_->SetPause(false)) return false;
  impl_->stopped = false;
  return true;
}

bool MediaPlayer::TogglePause() {
  const bool resume = impl_->pausedFlag;
  impl_->pausedFlag = !impl_->pausedFlag;
  if (!impl_->Loaded()) return false;
  const int state = State();
  if (!resume) {
    // Pausing what is not playing leaves it as it is.
    if (state != 1) return true;
    if (!impl_->SetPause(true)) return false;
    impl_->stopped = false;
    return true;
  }
  if (state == 1) return true;
  if (state != 3) return false;  // stopped: there is nothing to resume
  return impl_->SetPause(false);
}

bool MediaPlayer::Stop() {
  if (!impl_->Loaded()) return false;
  if (!impl_->SetPause(true)) return false;
  impl_->stopped = true;
  return impl_->SeekTo(0);
}

}  // namespace newsbar
