#include "runtime/media_player.h"

#include <malloc.h>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime/background_work.h"
#include "runtime/mpv_library.h"
#include "util/charset.h"
#include "util/gbk_text.h"
#include "util/log.h"

namespace newsbar {

namespace {

// An mpv instance and the functions to drive it. Copies share the instance, which is
// taken down when the last one goes (on whichever thread that is).
struct MpvSession {
  const MpvFunctions* api = nullptr;
  std::shared_ptr<mpv_handle> handle;
  std::string error;  // why there is none
};

constexpr const char* kLavfOptions = "reconnect_streamed=1";

// The options of every instance: no configuration files, scripts, terminal, video or
// input of its own; audio only, kept open at the end.
constexpr const char* kMpvOptions[][2] = {
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
    // A stream that breaks off is taken up again where it broke, first by the library
    // itself (1, 3 and 7 s after a break by default, also for streams of unknown length),
    // then by the player's own tries (MediaPlayer::Waiting). Connection errors and HTTP
    // errors are left out here: they would also hold up the first open of an address that
    // cannot be opened, which must fail at once.
    {"stream-lavf-o", kLavfOptions},
    // A bounded read-ahead: by default mpv keeps up to 150 MiB ahead and 50 MiB behind
    // of a network stream, so memory grew with the episode. Half a minute ahead is
    // plenty for speech over any link that can play it; behind, a few MiB of packets
    // (over a minute of a 64 kbit/s programme) serve the seeks back of hold-to-seek
    // and the slider without a new request.
    {"cache-secs", "30"},
    {"demuxer-max-bytes", "4MiB"},
    {"demuxer-max-back-bytes", "3MiB"},
    // The desktop's mixer shows the stream as "newsbar", named by the media's title
    // (SetTitle) rather than by its file name and the library's own name.
    {"audio-client-name", "newsbar"},
    {"title", "${media-title}"},
};

// Opens the library and starts an instance: the slow part of a cold start, run off the
// window's thread. mpv_create needs the "C" numeric locale, which the constructor of the
// media player has set before.
MpvSession StartMpv(const std::string& libraryName) {
  MpvSession session;
  const MpvWork work;
  if (!work.Allowed()) {
    session.error = "the process is ending";
    return session;
  }
  session.api = LoadMpvLibrary(libraryName, &session.error);
  if (session.api == nullptr) return session;
  const MpvFunctions* api = session.api;
  mpv_handle* raw = api->create();
  if (raw == nullptr) {
    session.error = "mpv_create failed";
    return session;
  }
  session.handle = std::shared_ptr<mpv_handle>(raw, [api](mpv_handle* handle) {
    // Once the process is ending, the instance goes with it.
    const MpvWork work;
    if (!work.Allowed()) return;
    // No wake-up may arrive for a player that is going away.
    api->setWakeupCallback(handle, nullptr, nullptr);
    api->terminateDestroy(handle);
  });
  for (const auto& option : kMpvOptions) {
    // An option this libmpv does not know is not worth failing over.
    api->setOptionString(raw, option[0], option[1]);
  }
  if (const int status = api->initialize(raw); status < 0) {
    session.error = std::string("mpv_initialize failed: ") + api->errorString(status);
    session.handle.reset();
  }
  return session;
}

// Names handed to the player come from the network. mpv understands many pseudo
// protocols (reading other files, file descriptors, filter graphs, playlists built in
// the name); only web addresses and plain file paths are let through.
// The scheme of a URL in lower case; nothing for a file path.
std::optional<std::string> SchemeOf(std::string_view name) {
  const std::size_t scheme = name.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  return gbk::AsciiLower(name.substr(0, scheme));
}

bool AcceptableName(std::string_view name) {
  if (name.empty() || name == "-") return false;
  if (name.find('\0') != std::string_view::npos) return false;
  const std::optional<std::string> scheme = SchemeOf(name);
  if (!scheme) return true;  // a file path
  return scheme == "http" || scheme == "https" || scheme == "file";
}

// A seek to 3 s may read back as 2.9999999 s; truncating that to 2999 ms would be a lie.
// Anything within a microsecond of the next millisecond counts as that millisecond.
constexpr double kRoundingSlackMs = 0.001;

int TruncateToInt(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::clamp(std::trunc(value), double{INT_MIN}, double{INT_MAX}));
}

int Milliseconds(double seconds) {
  return TruncateToInt(std::max(0.0, seconds) * 1000 + kRoundingSlackMs);
}

// What an asynchronous request was for: the low bits of its reply tag. The rest of the
// tag is the open it belongs to, so that replies for an earlier open are recognised.
enum Reply : std::uint64_t {
  kIgnored = 0,
  kLoad = 1,
  kDuration = 2,
  kSeek = 3,
  kTimePos = 4,
  kEndCheck = 5,
};
constexpr int kReplyBits = 4;

QEvent::Type WakeupEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// Properties followed through change events.
// The position is not among them: mpv reports it many times a second, and each report
// would wake the window's thread. It is asked for when read, and carried forward by the
// clock in between.
enum Observed : std::uint64_t { kEofReached = 2, kSeekable = 3, kPausedForCache = 4 };

// Blocks from this size up get pages of their own, handed back when freed. libmpv takes
// and frees a 10 MiB zeroed buffer for every file it opens, on a thread made for that
// file. Left to itself, glibc raises its threshold to the size of the first such block
// freed, after which each one comes from an allocator arena and stays resident there:
// 10 MiB more for every arena one of those threads happened to use (up to eight per
// core), reached over the first dozens of episode changes.
void KeepLargeBlocksOnPagesOfTheirOwn() {
#ifdef __GLIBC__
  constexpr int kOwnPagesFrom = 1 << 20;
  // Setting it also fixes it: glibc no longer moves it (nor the trim threshold). Once per
  // process, and said once when it did not take.
  [[maybe_unused]] static const bool set = [] {
    const bool done = mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom) == 1;
    // (An address sanitizer's allocator, for one, takes no such setting.)
    if (!done) qCInfo(lcMedia, "the allocator kept its own threshold for large blocks");
    return done;
  }();
#endif
}

// How old a reading of the position may be before a read asks mpv again.
constexpr auto kPositionRefresh = std::chrono::milliseconds(250);

// A network stream that has run dry (the library waits for data, often reconnecting on
// its own) for this long is shown as waiting; a shorter hiccup, as after a seek past
// what was read ahead, is not worth a word on the bar.
constexpr auto kStallGrace = std::chrono::milliseconds(1000);

// Media whose sound reached this close to its length has played to its end.
constexpr double kEndSlackSeconds = 1.0;
// Tries that found the server but ended again where they began, in a row, before the
// place is taken for the end after all (a length the library estimated too long).
constexpr int kStuckTriesForEnd = 3;

bool IsNetworkName(std::string_view name) {
  const std::optional<std::string> scheme = SchemeOf(name);
  return scheme == "http" || scheme == "https";
}

}  // namespace

struct MediaPlayer::Impl {
  enum class Phase { kClosed, kOpening, kLoaded };

  explicit Impl(MediaPlayer* player) : owner(player) {
    openTimer.setSingleShot(true);
    seekTimer.setSingleShot(true);
    retryTimer.setSingleShot(true);
    stallTimer.setSingleShot(true);
  }

  MediaPlayer* owner;
  // mpv comes from a thread of its own, soon after the player is made; until then what
  // the window asks for is kept and sent once it has come.
  BackgroundWork starter;
  const MpvFunctions* api = nullptr;
  std::shared_ptr<mpv_handle> mpv;
  bool mpvMissing = false;  // the library or the instance could not be had
  std::string pendingLoad;  // the name of an Open that came before mpv
  // A wake-up event is on its way to the window's thread.
  std::atomic<bool> wakeupQueued{false};

  Phase phase = Phase::kClosed;
  std::uint64_t serial = 0;       // counts opens and closes
  std::int64_t entryId = -1;      // mpv's playlist entry of our media, once known
  std::int64_t lastStarted = -1;  // the entry of the latest start-file event
  bool started = false;           // our entry's start-file event has come
  bool lengthKnown = false;
  double duration = 0;  // seconds

  bool pausedFlag = false;  // the toggle-pause flag
  bool paused = true;       // what we last told mpv
  bool stopped = true;      // paused because stopped rather than paused by the user

  // Last reported by mpv: the position (seconds) and when it was read.
  std::optional<double> timePos;
  std::chrono::steady_clock::time_point timePosAt;
  bool positionAsked = false;  // a reading is on its way
  // Sent somewhere while paused: the position is where it was sent until playing resumes
  // (paused, mpv reads back the start of the audio block the target lies in).
  bool heldAtSeekTarget = false;
  // mpv has played to where its stream ends (eof-reached); whether that is the end of the
  // media or a loss on the way is asked next (endAsked) and then known (ended, or a loss).
  bool atEnd = false;
  bool endAsked = false;
  bool ended = false;
  std::optional<bool> seekable;

  // A stream lost on the way: the same name is opened again at the kept place.
  std::string target;      // UTF-8, what was opened
  bool lost = false;       // waiting for it to come back
  bool reopening = false;  // the opening under way is such a try (no new length)
  double keptSeconds = 0;  // where the sound stopped, or where a seek meanwhile went
  int tries = 0;           // since the loss
  int reopensSent = 0;
  std::optional<double> reopenedAt;  // where the last try that loaded began
  int stuckTries = 0;
  QTimer retryTimer;
  std::chrono::milliseconds retryFirst{1000};
  std::chrono::milliseconds retryLongest{30000};
  bool soundPlaying = false;  // as last announced
  bool waitingShown = false;  // as last announced
  // The stream has run dry while playing (mpv's paused-for-cache): no sound, the clock
  // held; after kStallGrace it counts as waiting, without a try of our own, as the
  // library is at it.
  bool stalled = false;
  bool stallShown = false;
  QTimer stallTimer;

  // At most one seek is with mpv; a newer target waits here and replaces older ones.
  bool seekInFlight = false;
  bool seekBegun = false;  // mpv has started carrying it out
  double seekTarget = 0;
  std::optional<double> pendingSeek;
  int seeksSent = 0;

  // What the last Open was given, and when, for diagnostics.
  std::string openName;
  std::chrono::steady_clock::time_point openedAt;

  QTimer openTimer;
  QTimer seekTimer;
  std::chrono::milliseconds openBound{10000};
  std::chrono::milliseconds seekBound{5000};
  double volume = 1.0;
  std::optional<std::string> title;  // UTF-8, for the desktop's mixer
  std::optional<std::chrono::seconds> reconnectLimit;

  std::uint64_t Tag(Reply reply) const { return (serial << kReplyBits) | reply; }

  void Command(Reply reply, std::vector<const char*> args) {
    if (!mpv) return;
    args.push_back(nullptr);
    api->commandAsync(mpv.get(), Tag(reply), args.data());
  }

  void SendPause() {
    if (!mpv) return;
    int flag = paused ? 1 : 0;
    api->setPropertyAsync(mpv.get(), kIgnored, "pause", MPV_FORMAT_FLAG, &flag);
  }

  void SetPause(bool pause) {
    // The position carried forward so far holds from here (paused) or moves on from here.
    NotePosition(CurrentSeconds());
    if (!pause) heldAtSeekTarget = false;
    paused = pause;
    SendPause();
  }

  void SendVolume() {
    if (!mpv) return;
    double percent = volume * 100;
    api->setPropertyAsync(mpv.get(), kIgnored, "volume", MPV_FORMAT_DOUBLE, &percent);
  }

  void SendTitle() {
    if (!mpv || !title) return;
    // Taken as it is: this option expands no properties.
    const char* text = title->c_str();
    api->setPropertyAsync(mpv.get(), kIgnored, "force-media-title", MPV_FORMAT_STRING, &text);
  }

  void SendLavfOptions() {
    if (!mpv || !reconnectLimit) return;
    const std::string options = std::string(kLavfOptions) +
                                ",reconnect_delay_max=" + std::to_string(reconnectLimit->count());
    const char* text = options.c_str();
    api->setPropertyAsync(mpv.get(), kIgnored, "stream-lavf-o", MPV_FORMAT_STRING, &text);
  }

  void Load(const std::string& name) { Command(kLoad, {"loadfile", name.c_str(), "replace"}); }

  // loadfile with its arguments named, which every libmpv since 0.31 reads the same way
  // (the position of the per-file options moved in 0.38).
  void LoadAt(const std::string& name, double seconds) {
    if (!mpv) return;
    const std::string options = "start=" + std::to_string(seconds);
    std::array<char*, 4> keys{const_cast<char*>("name"), const_cast<char*>("url"),
                              const_cast<char*>("flags"), const_cast<char*>("options")};
    std::array<mpv_node, 4> values{};
    const std::array<const char*, 4> texts{"loadfile", name.c_str(), "replace", options.c_str()};
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i].format = MPV_FORMAT_STRING;
      values[i].u.string = const_cast<char*>(texts[i]);
    }
    mpv_node_list list{.num = 4, .values = values.data(), .keys = keys.data()};
    mpv_node command{};
    command.format = MPV_FORMAT_NODE_MAP;
    command.u.list = &list;
    // mpv copies the command before the call returns.
    api->commandNodeAsync(mpv.get(), Tag(kLoad), &command);
  }

  // mpv has come (or has not): what was asked for meanwhile goes out now.
  void Attach(MpvSession session) {
    if (!session.handle) {
      mpvMissing = true;
      qCWarning(lcMedia, "no media library, nothing can play: %s", session.error.c_str());
      if (phase == Phase::kOpening) Fail("no media library");
      return;
    }
    api = session.api;
    mpv = std::move(session.handle);
    qCDebug(lcMedia, "the media library is ready");
    api->observeProperty(mpv.get(), kEofReached, "eof-reached", MPV_FORMAT_FLAG);
    api->observeProperty(mpv.get(), kSeekable, "seekable", MPV_FORMAT_FLAG);
    api->observeProperty(mpv.get(), kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG);
    api->setWakeupCallback(mpv.get(), &Impl::Wakeup, this);
    if (volume != 1.0) SendVolume();
    SendTitle();
    SendLavfOptions();
    if (phase == Phase::kOpening) {
      SendPause();
      Load(std::exchange(pendingLoad, std::string()));
    }
    // Events that came before the callback was set.
    Wakeup(this);
  }

  bool Seeking() const { return seekInFlight || pendingSeek.has_value(); }

  void NotePosition(std::optional<double> seconds) {
    timePos = seconds;
    timePosAt = std::chrono::steady_clock::now();
  }

  // The last reading, carried forward by the clock while the media plays.
  std::optional<double> CurrentSeconds() const {
    if (!timePos) return std::nullopt;
    double seconds = *timePos;
    if (phase == Phase::kLoaded && !paused && !stopped && !atEnd && !stalled) {
      seconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - timePosAt).count();
      if (lengthKnown && duration > 0) seconds = std::min(seconds, duration);
    }
    return seconds;
  }

  // Asks mpv for the position, unless a reading is recent or already on its way.
  void RefreshPosition() {
    if (phase != Phase::kLoaded || positionAsked || heldAtSeekTarget) return;
    if (timePos && std::chrono::steady_clock::now() - timePosAt < kPositionRefresh) return;
    positionAsked = true;
    api->getPropertyAsync(mpv.get(), Tag(kTimePos), "time-pos", MPV_FORMAT_DOUBLE);
  }

  // Called from mpv's threads: only post an event that carries nothing (the window's
  // thread then reads mpv's own queue), and only one at a time. Qt drops it if the player
  // is gone first; mpv calls this no more once the callback is unset.
  static void Wakeup(void* context) {
    auto* self = static_cast<Impl*>(context);
    if (self->wakeupQueued.exchange(true)) return;
    QCoreApplication::postEvent(self->owner, new QEvent(WakeupEventType()));
  }

  void Drain() {
    wakeupQueued.store(false);
    if (!mpv) return;
    for (;;) {
      const mpv_event* event = api->waitEvent(mpv.get(), 0);
      if (event->event_id == MPV_EVENT_NONE) break;
      Handle(*event);
    }
    AnnounceSound();
  }

  void Handle(const mpv_event& event) {
    const bool current = (event.reply_userdata >> kReplyBits) == serial;
    const auto reply = static_cast<Reply>(event.reply_userdata & ((1u << kReplyBits) - 1));
    switch (event.event_id) {
      case MPV_EVENT_COMMAND_REPLY:
        if (!current) break;
        if (reply == kLoad) OnLoadReply(event);
        if (reply == kSeek && seekInFlight) {
          // Refused, or nothing to wait for on a stream that cannot seek.
          if (event.error < 0 || (seekable.has_value() && !*seekable)) SeekDone();
        }
        break;
      case MPV_EVENT_GET_PROPERTY_REPLY:
        if (current && reply == kDuration) OnDuration(event);
        if (current && reply == kTimePos) OnPosition(event);
        if (current && reply == kEndCheck) OnEndCheck(event);
        break;
      case MPV_EVENT_START_FILE: {
        const auto* start = static_cast<const mpv_event_start_file*>(event.data);
        lastStarted = start->playlist_entry_id;
        if (phase == Phase::kOpening && lastStarted == entryId) started = true;
        break;
      }
      case MPV_EVENT_FILE_LOADED:
        // Events come in order: the load that follows our start is ours.
        if (phase == Phase::kOpening && started) OnLoaded();
        break;
      case MPV_EVENT_END_FILE:
        OnEndFile(*static_cast<const mpv_event_end_file*>(event.data));
        break;
      case MPV_EVENT_SEEK:
        if (seekInFlight) seekBegun = true;
        break;
      case MPV_EVENT_PLAYBACK_RESTART:
        if (seekInFlight && seekBegun) SeekDone();
        break;
      case MPV_EVENT_PROPERTY_CHANGE:
        OnProperty(event.reply_userdata, *static_cast<const mpv_event_property*>(event.data));
        break;
      case MPV_EVENT_SHUTDOWN:
        lost = false;
        if (phase == Phase::kOpening) {
          Fail("the media library shut down");
        } else {
          Forget();
        }
        break;
      default:
        break;
    }
  }

  void OnLoadReply(const mpv_event& event) {
    if (phase != Phase::kOpening) return;
    if (event.error < 0) {
      OpenFailed(api->errorString(event.error));
      return;
    }
    const auto* result = static_cast<const mpv_node*>(event.data);
    if (result && result->format == MPV_FORMAT_NODE_MAP) {
      const mpv_node_list* map = result->u.list;
      for (int i = 0; i < map->num; ++i) {
        if (std::strcmp(map->keys[i], "playlist_entry_id") == 0 &&
            map->values[i].format == MPV_FORMAT_INT64)
          entryId = map->values[i].u.int64;
      }
    }
    if (entryId >= 0 && lastStarted == entryId) started = true;
  }

  void OnLoaded() {
    openTimer.stop();
    phase = Phase::kLoaded;
    atEnd = endAsked = ended = false;
    if (reopening) {
      // Back: the length is the one known before, the place the kept one.
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - openedAt).count();
      qCWarning(lcMedia, "%s is back at %.1f s after %d tries (the last took %.2f s)",
                target.c_str(), keptSeconds, tries, seconds);
      reopening = false;
      lost = false;
      tries = 0;
      reopenedAt = keptSeconds;
      NotePosition(keptSeconds);
      AnnounceWaiting();
    } else {
      NotePosition(0.0);
      api->getPropertyAsync(mpv.get(), Tag(kDuration), "duration", MPV_FORMAT_DOUBLE);
    }
    if (pendingSeek) SendSeek(*std::exchange(pendingSeek, std::nullopt));
  }

  void OnDuration(const mpv_event& event) {
    if (phase != Phase::kLoaded || lengthKnown) return;
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    duration = 0;
    if (event.error >= 0 && property && property->format == MPV_FORMAT_DOUBLE) {
      duration = std::max(0.0, *static_cast<const double*>(property->data));
    }
    Announce();
  }

  void OnPosition(const mpv_event& event) {
    positionAsked = false;
    // A reading taken while a seek was under way may be from before it.
    if (phase != Phase::kLoaded || Seeking() || heldAtSeekTarget) return;
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    if (event.error >= 0 && property && property->format == MPV_FORMAT_DOUBLE) {
      NotePosition(*static_cast<const double*>(property->data));
    } else {
      NotePosition(std::nullopt);
    }
  }

  void OnEndFile(const mpv_event_end_file& end) {
    if (phase == Phase::kClosed || end.playlist_entry_id != entryId) return;
    // A playlist was opened: its first entry takes our place.
    if (phase == Phase::kOpening && end.reason == MPV_END_FILE_REASON_REDIRECT &&
        end.playlist_insert_num_entries > 0) {
      entryId = end.playlist_insert_id;
      started = lastStarted == entryId;
      return;
    }
    if (phase == Phase::kOpening) {
      OpenFailed(end.reason == MPV_END_FILE_REASON_ERROR ? api->errorString(end.error)
                                                         : "it ended before it had loaded");
    } else if (end.reason == MPV_END_FILE_REASON_ERROR || end.reason == MPV_END_FILE_REASON_EOF) {
      // Our media went on its own before its end was known to be the end.
      if (!ended && IsNetworkName(target) && !NearEnd(CurrentSeconds().value_or(0))) {
        Lose(CurrentSeconds().value_or(keptSeconds), "the stream ended on its own");
      } else {
        Forget();
      }
    } else {
      Forget();
    }
  }

  bool NearEnd(double seconds) const {
    return duration <= 0 || seconds >= duration - kEndSlackSeconds;
  }

  // mpv has played to where its stream ends: the end of the media, or a loss on the way?
  void CheckEnd() {
    if (endAsked || phase != Phase::kLoaded) return;
    endAsked = true;
    api->getPropertyAsync(mpv.get(), Tag(kEndCheck), "time-pos", MPV_FORMAT_DOUBLE);
  }

  void OnEndCheck(const mpv_event& event) {
    if (phase != Phase::kLoaded || !atEnd || ended) return;
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    double seconds = CurrentSeconds().value_or(0);
    if (event.error >= 0 && property && property->format == MPV_FORMAT_DOUBLE) {
      seconds = *static_cast<const double*>(property->data);
    }
    bool end = !IsNetworkName(target) || NearEnd(seconds);
    if (!end && reopenedAt) {
      // A try that found the server yet played nothing: the length may be an estimate
      // longer than the media. A few of those in a row are the end.
      stuckTries = seconds < *reopenedAt + kEndSlackSeconds ? stuckTries + 1 : 0;
      end = stuckTries >= kStuckTriesForEnd;
    }
    if (end) {
      ended = true;
      NotePosition(seconds);
      return;
    }
    Lose(seconds, "the stream broke off before its end");
  }

  // The stream is gone before its end: keep the place, let go of the media, and try again.
  void Lose(double seconds, const char* why) {
    qCWarning(lcMedia, "lost %s at %.1f s of %.1f s (%s): trying again", target.c_str(), seconds,
              duration, why);
    keptSeconds = pendingSeek.value_or(seconds);
    LetGo();
    lost = true;
    tries = 0;
    AnnounceWaiting();
    ScheduleTry();
  }

  // Stops what mpv has open for us; its later replies and loads are no longer ours.
  void LetGo() {
    if (mpv) Command(kIgnored, {"stop"});
    ++serial;
    DropMedia();
    phase = Phase::kClosed;
  }

  // Forgets what mpv had open, keeping the row's name, length and the user's choices.
  void DropMedia() {
    entryId = -1;
    started = false;
    timePos.reset();
    positionAsked = false;
    heldAtSeekTarget = false;
    atEnd = endAsked = ended = false;
    seekable.reset();
    seekInFlight = false;
    seekBegun = false;
    pendingSeek.reset();
    openTimer.stop();
    seekTimer.stop();
    stalled = stallShown = false;
    stallTimer.stop();
  }

  void ScheduleTry() {
    if (!lost || paused || phase == Phase::kOpening) return;
    auto delay = retryFirst;
    for (int i = 0; i < tries && delay < retryLongest; ++i) delay *= 2;
    retryTimer.start(std::min(delay, retryLongest));
  }

  // Opens the lost name again at the kept place.
  void TryAgain() {
    retryTimer.stop();
    if (!lost || paused || phase == Phase::kOpening) return;
    if (!mpv) {
      ScheduleTry();
      return;
    }
    ++serial;
    DropMedia();
    phase = Phase::kOpening;
    reopening = true;
    ++tries;
    ++reopensSent;
    openedAt = std::chrono::steady_clock::now();
    SendPause();
    LoadAt(target, keptSeconds);
    openTimer.start(openBound);
  }

  void TryNow() {
    tries = 0;
    TryAgain();
  }

  // Pausing while waiting: no more tries until playing resumes.
  void StopTrying() {
    retryTimer.stop();
    if (phase != Phase::kOpening || !reopening) return;
    LetGo();
    reopening = false;
  }

  // An open did not come to load (nor may it turn up later): a first open fails (length 0),
  // a try waits for the next.
  void OpenFailed(const char* why) {
    LetGo();
    if (!reopening) {
      Fail(why);
      return;
    }
    qCDebug(lcMedia, "try %d for %s failed: %s", tries, target.c_str(), why);
    reopening = false;
    ScheduleTry();
  }

  // Loaded and let play (sound comes unless the stream has run dry or was lost).
  bool Playing() const { return phase == Phase::kLoaded && !paused && !stopped && !ended; }

  bool SoundNow() const { return Playing() && !lost && !stalled; }

  void AnnounceWaiting() {
    const bool now = lost || stallShown;
    if (now == waitingShown) return;
    waitingShown = now;
    emit owner->waitingChanged(now);
  }

  // mpv waits for data of the stream (or has it again).
  void OnStall(bool stall) {
    if (stall == stalled || phase != Phase::kLoaded || !IsNetworkName(target)) return;
    // The clock stops where the sound did, or moves on from there.
    NotePosition(CurrentSeconds());
    stalled = stall;
    if (stall) {
      stallTimer.start(kStallGrace);
      return;
    }
    stallTimer.stop();
    if (std::exchange(stallShown, false)) {
      qCWarning(lcMedia, "%s plays again after running dry", target.c_str());
    }
    AnnounceWaiting();
  }

  void OnStallGrace() {
    if (!stalled || paused) return;
    qCWarning(lcMedia, "%s has run dry at %.1f s: waiting for the network", target.c_str(),
              CurrentSeconds().value_or(0));
    stallShown = true;
    AnnounceWaiting();
  }

  void AnnounceSound() {
    const bool now = SoundNow();
    if (now == soundPlaying) return;
    soundPlaying = now;
    emit owner->soundPlayingChanged(now);
  }

  void OnProperty(std::uint64_t id, const mpv_event_property& property) {
    const bool has = property.format != MPV_FORMAT_NONE && property.data;
    switch (id) {
      case kEofReached:
        atEnd =
            has && property.format == MPV_FORMAT_FLAG && *static_cast<const int*>(property.data);
        if (atEnd) {
          CheckEnd();
        } else {
          endAsked = ended = false;
        }
        break;
      case kPausedForCache:
        OnStall(has && property.format == MPV_FORMAT_FLAG &&
                *static_cast<const int*>(property.data) != 0);
        break;
      case kSeekable:
        if (has && property.format == MPV_FORMAT_FLAG) {
          seekable = *static_cast<const int*>(property.data) != 0;
        } else {
          seekable.reset();
        }
        break;
      default:
        break;
    }
  }

  void RequestSeek(double seconds) {
    const double place = std::max(0.0, seconds);
    if (lost) {
      // The next try opens there (one under way goes there once it has loaded).
      keptSeconds = place;
      if (phase == Phase::kOpening) pendingSeek = place;
      return;
    }
    if (phase == Phase::kOpening || seekInFlight) {
      pendingSeek = place;
      return;
    }
    SendSeek(place);
  }

  void SendSeek(double place) {
    seekInFlight = true;
    seekBegun = false;
    seekTarget = place;
    pendingSeek.reset();
    const std::string text = std::to_string(place);
    Command(kSeek, {"seek", text.c_str(), "absolute+exact"});
    ++seeksSent;
    seekTimer.start(seekBound);
  }

  // The seek with mpv has been carried out (or refused, or took too long): the next one
  // may go.
  void SeekDone() {
    seekInFlight = false;
    seekBegun = false;
    seekTimer.stop();
    // Until mpv reports again, the position is where the seek went.
    NotePosition(seekTarget);
    heldAtSeekTarget = paused && !stopped;
    RefreshPosition();
    if (pendingSeek && phase == Phase::kLoaded) SendSeek(*std::exchange(pendingSeek, std::nullopt));
  }

  // Back to nothing open, without a word to mpv.
  void Forget() {
    phase = Phase::kClosed;
    pendingLoad.clear();
    stopped = true;
    DropMedia();
    StopWaiting();
  }

  void StopWaiting() {
    retryTimer.stop();
    reopening = false;
    tries = 0;
    reopenedAt.reset();
    stuckTries = 0;
    if (std::exchange(lost, false)) qCDebug(lcMedia, "no longer waiting for %s", target.c_str());
    AnnounceWaiting();
  }

  // The open failed or took too long: nothing is open and the length is 0.
  void Fail(const char* why) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - openedAt).count();
    qCWarning(lcMedia, "could not open %s: %s, after %.2f s", openName.c_str(), why, seconds);
    Forget();
    duration = 0;
    Announce();
  }

  void Announce() {
    lengthKnown = true;
    emit owner->lengthKnown();
  }
};

MediaPlayer::MediaPlayer(std::string_view library) : impl_(std::make_unique<Impl>(this)) {
  // libmpv refuses to start under any other numeric locale.
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  if (!numeric || std::strcmp(numeric, "C") != 0) std::setlocale(LC_NUMERIC, "C");
  // Memory stays flat as files change (a process-wide setting, as the locale is).
  KeepLargeBlocksOnPagesOfTheirOwn();

  connect(&impl_->openTimer, &QTimer::timeout, this, [this] {
    if (impl_->phase != Impl::Phase::kOpening) return;
    impl_->OpenFailed("no answer within the open bound");
  });
  connect(&impl_->retryTimer, &QTimer::timeout, this, [this] { impl_->TryAgain(); });
  connect(&impl_->stallTimer, &QTimer::timeout, this, [this] { impl_->OnStallGrace(); });
  connect(&impl_->seekTimer, &QTimer::timeout, this, [this] {
    if (impl_->seekInFlight) impl_->SeekDone();
  });

  // The player works from here on; mpv joins it when it has started. The start itself
  // waits for the event loop: the library's load holds the dynamic loader for a while,
  // and whatever the window's thread still loads as it is made and shown (the toolkit's
  // plugins) goes first.
  QMetaObject::invokeMethod(
      this,
      [this, name = std::string(library)] {
        impl_->starter.Run<MpvSession>(
            [name] { return StartMpv(name); },
            [this](MpvSession session) { impl_->Attach(std::move(session)); });
      },
      Qt::QueuedConnection);
}

void MediaPlayer::customEvent(QEvent* event) {
  if (event->type() == WakeupEventType()) impl_->Drain();
}

MediaPlayer::~MediaPlayer() {
  // mpv goes first, so no wake-up reaches the queue while it is being taken down.
  impl_->mpv.reset();
}

void MediaPlayer::SetOpenBound(std::chrono::milliseconds bound) {
  impl_->openBound = std::max(bound, std::chrono::milliseconds(1));
}

void MediaPlayer::SetSeekBound(std::chrono::milliseconds bound) {
  impl_->seekBound = std::max(bound, std::chrono::milliseconds(1));
}

bool MediaPlayer::Open(std::string_view name) {
  Close();
  Impl& p = *impl_;
  // The name is a program text (GBK); mpv and the file system want UTF-8.
  const std::string target = AcceptableName(name) ? GbkToUtf8Text(name) : std::string();
  p.openName = target.empty() ? GbkToUtf8Text(name) : target;
  p.target = target;
  p.openedAt = std::chrono::steady_clock::now();
  if (p.mpvMissing || target.empty()) {
    const char* why = p.mpvMissing ? "no media library" : "not a web address or a file path";
    // Fails all the same, but never before the caller has returned.
    QMetaObject::invokeMethod(
        this,
        [this, serial = p.serial, why] {
          if (impl_->serial == serial && !impl_->lengthKnown) impl_->Fail(why);
        },
        Qt::QueuedConnection);
    return false;
  }
  p.phase = Impl::Phase::kOpening;
  p.SetPause(true);
  // Before mpv has come, the load waits for it (the open bound runs all the same).
  if (p.mpv) {
    p.Load(target);
  } else {
    p.pendingLoad = target;
  }
  p.openTimer.start(p.openBound);
  return true;
}

void MediaPlayer::Close() {
  Impl& p = *impl_;
  if (p.mpv && p.phase != Impl::Phase::kClosed) p.Command(kIgnored, {"stop"});
  // Replies and loads of what was open before are not ours any more.
  ++p.serial;
  p.Forget();
  p.lengthKnown = false;
  p.duration = 0;
  p.AnnounceSound();
}

bool MediaPlayer::LengthKnown() const {
  return impl_->lengthKnown;
}

int MediaPlayer::State() {
  const Impl& p = *impl_;
  if (p.phase == Impl::Phase::kClosed && !p.lost) return 0;
  if (p.phase == Impl::Phase::kLoaded && p.ended && !p.Seeking()) return 2;
  if (!p.paused) return 1;
  return p.stopped ? 2 : 3;
}

int MediaPlayer::Position() {
  Impl& p = *impl_;
  // Waiting for a lost stream: where the sound stopped (or a seek meanwhile went).
  if (p.lost) return Milliseconds(p.keptSeconds);
  if (p.phase != Impl::Phase::kLoaded) return -1;
  if (p.pendingSeek) return Milliseconds(*p.pendingSeek);
  if (p.seekInFlight) return Milliseconds(p.seekTarget);
  // At the end the position is the length, as the end of a file always read before.
  if (p.ended && p.lengthKnown) return Milliseconds(p.duration);
  p.RefreshPosition();
  const std::optional<double> seconds = p.CurrentSeconds();
  if (!seconds) return -1;
  return Milliseconds(*seconds);
}

int MediaPlayer::Length() {
  const Impl& p = *impl_;
  if ((p.phase != Impl::Phase::kLoaded && !p.lost) || !p.lengthKnown) return 0;
  return TruncateToInt(p.duration);
}

bool MediaPlayer::Play(std::optional<int> fromMs) {
  Impl& p = *impl_;
  p.pausedFlag = false;
  if (p.phase == Impl::Phase::kClosed && !p.lost) return false;
  if (fromMs) p.RequestSeek(*fromMs / 1000.0);
  p.SetPause(false);
  p.stopped = false;
  if (p.lost && !p.retryTimer.isActive()) p.TryNow();
  p.AnnounceSound();
  return true;
}

bool MediaPlayer::TogglePause() {
  Impl& p = *impl_;
  const bool resume = p.pausedFlag;
  p.pausedFlag = !p.pausedFlag;
  if (p.phase == Impl::Phase::kClosed && !p.lost) return false;
  const int state = State();
  if (!resume) {
    // Pausing what is not playing leaves it as it is.
    if (state != 1) return true;
    p.SetPause(true);
    p.stopped = false;
    if (p.lost) p.StopTrying();
    p.AnnounceSound();
    return true;
  }
  if (state == 1) return true;
  if (state != 3) return false;  // stopped: there is nothing to resume
  p.SetPause(false);
  if (p.lost) p.TryNow();
  p.AnnounceSound();
  return true;
}

bool MediaPlayer::Stop() {
  Impl& p = *impl_;
  if (p.phase == Impl::Phase::kClosed && !p.lost) return false;
  p.SetPause(true);
  p.stopped = true;
  p.RequestSeek(0);
  if (p.lost) p.StopTrying();
  p.AnnounceSound();
  return true;
}

bool MediaPlayer::Seek(int fromMs) {
  Impl& p = *impl_;
  if (p.phase == Impl::Phase::kClosed && !p.lost) return false;
  p.RequestSeek(fromMs / 1000.0);
  return true;
}

bool MediaPlayer::Waiting() const {
  return impl_->lost || impl_->stallShown;
}

void MediaPlayer::Reconnect() {
  Impl& p = *impl_;
  if (p.lost) {
    if (!p.paused) p.TryNow();
    return;
  }
  // A network stream that plays may hang on a connection that died in the sleep; opened
  // again where it is, it goes on at once rather than after the transfer's time-out.
  if (!p.Playing() || !IsNetworkName(p.target) || p.Seeking()) return;
  p.Lose(p.CurrentSeconds().value_or(0), "the network may have changed");
  p.TryNow();
  p.AnnounceSound();
}

void MediaPlayer::SetRetryDelays(std::chrono::milliseconds first,
                                 std::chrono::milliseconds longest) {
  impl_->retryFirst = std::max(first, std::chrono::milliseconds(1));
  impl_->retryLongest = std::max(longest, impl_->retryFirst);
}

void MediaPlayer::SetLibraryReconnectLimit(std::chrono::seconds limit) {
  impl_->reconnectLimit = std::max(limit, std::chrono::seconds(0));
  impl_->SendLavfOptions();
}

bool MediaPlayer::SoundPlaying() const {
  return impl_->SoundNow();
}

int MediaPlayer::ReopensSent() const {
  return impl_->reopensSent;
}

void MediaPlayer::SetVolume(double volume) {
  Impl& p = *impl_;
  if (!std::isfinite(volume)) return;
  p.volume = std::clamp(volume, 0.0, 1.0);
  p.SendVolume();
}

double MediaPlayer::Volume() const {
  return impl_->volume;
}

void MediaPlayer::SetTitle(std::string_view title) {
  Impl& p = *impl_;
  p.title = GbkToUtf8Text(title);
  p.SendTitle();
}

int MediaPlayer::SeeksSent() const {
  return impl_->seeksSent;
}

}  // namespace newsbar
