#include <gtest/gtest.h>
#include <httplib.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/media_player.h"
#include "support/log_capture.h"
#include "support/media_files.h"
#include "support/process_memory.h"
#include "support/wait_until.h"

namespace newsbar {
namespace {

using namespace std::chrono_literals;
using test::ResidentKb;
using test::WaitUntil;

// Test media, made once: 3.6 s of tone as WAV and as MP3, on disk and served over
// loopback HTTP. A request for /stall is accepted and never answered (until teardown).
class MediaPlayerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir();
    ASSERT_TRUE(dir_->isValid());
    wav_ = dir_->filePath("tone.wav").toStdString();
    mp3_ = dir_->filePath("tone.mp3").toStdString();
    ASSERT_TRUE(test::WriteWav(wav_, 3.6));
    ASSERT_TRUE(test::WriteMp3(mp3_, 3.6));
    mp3Bytes_ = new std::string();
    const ByteSet bytes = test::ReadFileBytes(mp3_);
    mp3Bytes_->assign(bytes.begin(), bytes.end());
    ASSERT_FALSE(mp3Bytes_->empty());

    // An hour at 64 kbit/s, the size of a real programme: a minute's MP3, sixty times.
    const std::string minute = dir_->filePath("minute.mp3").toStdString();
    ASSERT_TRUE(test::WriteMp3(minute, 60.0, false));
    const ByteSet minuteBytes = test::ReadFileBytes(minute);
    ASSERT_FALSE(minuteBytes.empty());
    hourBytes_ = new std::string();
    for (int i = 0; i < 60; ++i) hourBytes_->append(minuteBytes.begin(), minuteBytes.end());

    server_ = new httplib::Server();
    // Throttled to 4 MB/s: far faster than the programme plays, so an unbounded read-ahead
    // would fill with most of it.
    server_->Get("/hour.mp3", [](const httplib::Request&, httplib::Response& response) {
      {
        std::lock_guard lock(stallMutex_);
        ++hourRequests_;
      }
      response.set_content_provider(
          hourBytes_->size(), "audio/mpeg",
          [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            const std::size_t chunk = std::min<std::size_t>(length, 64 * 1024);
            std::this_thread::sleep_for(16ms);
            return sink.write(hourBytes_->data() + offset, chunk);
          });
    });
    server_->Get("/tone.mp3", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(*mp3Bytes_, "audio/mpeg");
    });
    server_->Get("/stall.mp3", [](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(stallMutex_);
      stallDone_.wait_for(lock, 20s, [] { return stallReleased_; });
      response.status = 503;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    serverThread_ = new std::thread([] { server_->listen_after_bind(); });
    ASSERT_TRUE(WaitUntil([] { return server_->is_running(); }));
  }

  static void TearDownTestSuite() {
    {
      std::lock_guard lock(stallMutex_);
      stallReleased_ = true;
    }
    stallDone_.notify_all();
    if (server_) server_->stop();
    if (serverThread_) serverThread_->join();
    delete serverThread_;
    delete server_;
    delete mp3Bytes_;
    delete hourBytes_;
    delete dir_;
  }

  static std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Waits until the player has played at least `ms` (by its own position).
  static bool PlayedAtLeast(MediaPlayer& player, int ms) {
    return WaitUntil([&] { return player.Position() >= ms; }, 5s);
  }

  // Open returns at once; this handles events until the length is known, and tells
  // whether the media loaded.
  static bool OpenAndWait(MediaPlayer& player, const std::string& name) {
    player.Open(name);
    if (!WaitUntil([&] { return player.LengthKnown(); }, 15s)) return false;
    return player.State() != 0;
  }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline std::string wav_;
  static inline std::string mp3_;
  static inline std::string* mp3Bytes_ = nullptr;
  static inline std::string* hourBytes_ = nullptr;
  static inline int hourRequests_ = 0;       // under stallMutex_
  static inline std::string lastHourRange_;  // under stallMutex_
  static inline httplib::Server* server_ = nullptr;
  static inline std::thread* serverThread_ = nullptr;
  static inline int port_ = 0;
  static inline std::mutex stallMutex_;
  static inline std::condition_variable stallDone_;
  static inline bool stallReleased_ = false;
};

TEST_F(MediaPlayerTest, WavFileThroughPlayPauseResumeStopAndPlayAgain) {
  MediaPlayer player;
  ASSERT_TRUE(OpenAndWait(player, wav_));
  EXPECT_EQ(player.Length(), 3);  // 3.6 s, truncated
  EXPECT_EQ(player.State(), 2);   // opened, not yet playing
  EXPECT_EQ(player.Position(), 0);

  ASSERT_TRUE(player.Play());
  EXPECT_EQ(player.State(), 1);
  ASSERT_TRUE(PlayedAtLeast(player, 300));

  ASSERT_TRUE(player.TogglePause());  // pause
  EXPECT_EQ(player.State(), 3);
  const int pausedAt = player.Position();
  EXPECT_GE(pausedAt, 300);
  // Paused means the position stands still (mpv may settle a few ms after the pause).
  EXPECT_FALSE(WaitUntil([&] { return player.Position() > pausedAt + 100; }, 400ms));

  ASSERT_TRUE(player.TogglePause());  // resume
  EXPECT_EQ(player.State(), 1);
  ASSERT_TRUE(PlayedAtLeast(player, pausedAt + 200));

  ASSERT_TRUE(player.Stop());
  EXPECT_EQ(player.State(), 2);
  EXPECT_EQ(player.Position(), 0);

  // Play after stop starts from the beginning.
  ASSERT_TRUE(player.Play());
  EXPECT_EQ(player.State(), 1);
  EXPECT_LT(player.Position(), 300);
  ASSERT_TRUE(PlayedAtLeast(player, 100));
}

TEST_F(MediaPlayerTest, Mp3OverHttpPlays) {
  MediaPlayer player;
  ASSERT_TRUE(OpenAndWait(player, Url("/tone.mp3")));
  EXPECT_EQ(player.Length(), 3);
  ASSERT_TRUE(player.Play());
  EXPECT_EQ(player.State(), 1);
  const int first = player.Position();
  ASSERT_TRUE(PlayedAtLeast(player, first + 300));
}

TEST_F(MediaPlayerTest, PlayFromAPositionAndReachTheEnd) {
  MediaPlayer player;
  ASSERT_TRUE(OpenAndWait(player, mp3_));
  ASSERT_TRUE(player.Play(3000));
  EXPECT_GE(player.Position(), 3000);
  // At the end the media reads stopped, with the position at the length.
  ASSERT_TRUE(WaitUntil([&] { return player.State() == 2; }, 5s));
  EXPECT_GE(player.Position(), 3500);
  EXPECT_EQ(player.Position() / 1000, player.Length());
  // Playing on at the end stays there; playing from the start plays again.
  ASSERT_TRUE(player.Play(0));
  EXPECT_EQ(player.State(), 1);
  EXPECT_LT(player.Position(), 1000);
}

// Seeks asked for faster than mpv carries them out do not pile up: one is with mpv, and
// of the rest only the latest target is kept for after it.
TEST_F(MediaPlayerTest, SeeksCoalesceAndTheLatestWins) {
  MediaPlayer player;
  ASSERT_TRUE(OpenAndWait(player, Url("/tone.mp3")));
  ASSERT_TRUE(player.Play());
  const int before = player.SeeksSent();
  // No events are handled between these calls, so the first seek cannot have finished.
  for (int ms = 100; ms <= 2000; ms += 100) ASSERT_TRUE(player.Play(ms));
  EXPECT_EQ(player.SeeksSent() - before, 1);
  EXPECT_EQ(player.Position(), 2000);
  // Once the first is done, the latest goes out, and the media plays on from there.
  ASSERT_TRUE(WaitUntil([&] { return player.SeeksSent() - before == 2; }, 5s));
  ASSERT_TRUE(PlayedAtLeast(player, 2100));
  EXPECT_LT(player.Position(), 3000);
  EXPECT_EQ(player.SeeksSent() - before, 2);
}

// Handles events for a while (only where time itself is what the test needs).
void HandleEventsFor(std::chrono::milliseconds time) {
  WaitUntil([] { return false; }, time);
}

// An hour-long episode streamed fast does not grow the player by the hour: it reads ahead
// a bounded stretch, seeks within it and back half a minute from what it keeps, and plays
// from five minutes on, beyond anything read.
TEST_F(MediaPlayerTest, AnHourLongEpisodeStaysWithinTheReadAheadBound) {
  MediaPlayer player;
  // Probing an hour-long stream takes a while on a slow (or instrumented) build.
  player.SetOpenBound(30s);
  // The audio output and the decoder are set up once per player: not part of the bound.
  ASSERT_TRUE(OpenAndWait(player, Url("/tone.mp3")));
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(PlayedAtLeast(player, 500));
  const long before = ResidentKb();

  ASSERT_TRUE(OpenAndWait(player, Url("/hour.mp3")));
  EXPECT_GE(player.Length(), 3590);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(PlayedAtLeast(player, 3000));
  const auto requestsSoFar = [] {
    std::lock_guard lock(stallMutex_);
    return hourRequests_;
  };
  const int opened = requestsSoFar();
  // Within the read-ahead: 25 s on, from what was read.
  const int within = player.Position() + 25000;
  ASSERT_TRUE(player.Play(within));
  ASSERT_TRUE(WaitUntil([&] { return player.Position() >= within + 1500; }, 10s));
  // Half a minute back, from what it keeps behind.
  const int back = player.Position() - 30000;
  ASSERT_TRUE(player.Play(std::max(0, back)));
  ASSERT_TRUE(WaitUntil([&] { return player.Position() >= std::max(0, back) + 1500; }, 10s));
  EXPECT_LT(player.Position(), std::max(0, back) + 10000);
  EXPECT_EQ(requestsSoFar(), opened) << "a seek within what was read asked the server again";
  // Five minutes on: beyond anything read. It plays from there.
  const int ahead = player.Position() + 300000;
  ASSERT_TRUE(player.Play(ahead));
  ASSERT_TRUE(WaitUntil([&] { return player.Position() >= ahead + 1500; }, 10s));
  EXPECT_LT(player.Position(), ahead + 10000);
  HandleEventsFor(3s);
  const long grown = ResidentKb() - before;
  // A few MiB ahead and behind, against most of the hour's 28 MiB (several times that in
  // packets) without a bound.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // A sanitizer's shadow memory grows with what the program touches: not this measure.
  (void)grown;
#else
  EXPECT_LT(grown, 16 * 1024) << grown << " KiB";
#endif
  EXPECT_EQ(player.State(), 1);
}

// libmpv takes and frees a 10 MiB block on a thread of its own for every file it opens.
// With a player in the process such blocks go back to the system when freed, whichever
// thread and allocator arena they came from; else each arena used keeps one resident.
TEST_F(MediaPlayerTest, LargeBlocksFreedOnShortLivedThreadsGoBackToTheSystem) {
  MediaPlayer player;
  constexpr std::size_t kBlock = 10u << 20;
  // Through pointers the compiler cannot see through, so the blocks are really taken and
  // written (as libmpv zeroes its own).
  void* (*volatile allocate)(std::size_t) = std::malloc;
  void* (*volatile fill)(void*, int, std::size_t) = std::memset;
  const long before = ResidentKb();
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
      threads.emplace_back([allocate, fill] {
        void* block = allocate(kBlock);
        if (block) fill(block, 1, kBlock);
        std::free(block);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  const long grown = ResidentKb() - before;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // A sanitizer brings its own allocator.
  (void)grown;
#else
  EXPECT_LT(grown, 3 * 1024) << grown << " KiB";
#endif
}

TEST_F(MediaPlayerTest, PlayClearsTheTogglePauseFlag) {
  MediaPlayer player;
  ASSERT_TRUE(OpenAndWait(player, wav_));
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(player.TogglePause());  // flag clear: pause
  EXPECT_EQ(player.State(), 3);
  ASSERT_TRUE(player.Play());  // clears the flag
  EXPECT_EQ(player.State(), 1);
  ASSERT_TRUE(player.TogglePause());  // so this pauses again instead of resuming
  EXPECT_EQ(player.State(), 3);

  // Without the Play in between, the flag alternates: resume, then pause.
  ASSERT_TRUE(player.TogglePause());
  EXPECT_EQ(player.State(), 1);
  ASSERT_TRUE(player.TogglePause());
  EXPECT_EQ(player.State(), 3);
}

TEST_F(MediaPlayerTest, WhatCannotBeOpenedReadsAsNothingOpen) {
  MediaPlayer player;
  // A good file first, so we also see that a failed open closes what was open.
  ASSERT_TRUE(OpenAndWait(player, wav_));
  ASSERT_TRUE(player.Play());

  const std::string missing = dir_->filePath("missing.mp3").toStdString();
  const std::string notAudio = dir_->filePath("not-audio.wav").toStdString();
  {
    std::FILE* file = std::fopen(notAudio.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("this is no audio at all", file);
    std::fclose(file);
  }
  const std::vector<std::string> names = {
      missing,           notAudio,        Url("/missing.mp3"), "http://127.0.0.1:1/x.mp3", "", "-",
      "av://lavfi:sine", "edl://" + wav_, "memory://RIFF"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    test::LogCapture log;
    EXPECT_FALSE(OpenAndWait(player, name));
    // Said once beside the window, with the name.
    const auto warnings = log.Warnings("newsbar.media");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("could not open " + name + ": ", 0), 0u) << warnings[0];
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.Position(), -1);
    EXPECT_EQ(player.State(), 0);
    EXPECT_FALSE(player.Play());
    EXPECT_FALSE(player.Stop());
  }
  // And the player is still good for the next file.
  ASSERT_TRUE(OpenAndWait(player, wav_));
  EXPECT_EQ(player.Length(), 3);
}

// The media library is opened at run time: without it (or with a library that is not
// it), every open fails as a failed open does, and the reason is said once.
TEST_F(MediaPlayerTest, WithoutTheMediaLibraryEveryOpenFailsAndItIsSaid) {
  const struct {
    const char* library;
    const char* why;
  } cases[] = {{"libnewsbar-no-such-library.so.0", "libnewsbar-no-such-library.so.0: cannot open"},
               {"libz.so.1", "libz.so.1 has no mpv_create"}};
  for (const auto& [library, why] : cases) {
    SCOPED_TRACE(library);
    test::LogCapture log;
    MediaPlayer player(library);
    // Asked for before the library's load has even begun.
    EXPECT_FALSE(OpenAndWait(player, wav_));
    const auto warnings = log.Warnings("newsbar.media");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].rfind("no media library, nothing can play: ", 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find(why), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[1].rfind("could not open " + wav_ + ": no media library, after ", 0), 0u)
        << warnings[1];
    EXPECT_EQ(player.State(), 0);
    EXPECT_EQ(player.Length(), 0);
    // Later opens fail at once, and say so.
    EXPECT_FALSE(OpenAndWait(player, wav_));
    EXPECT_EQ(log.Warnings("newsbar.media").size(), 3u);
  }
}

TEST_F(MediaPlayerTest, NothingOpen) {
  MediaPlayer player;
  EXPECT_EQ(player.State(), 0);
  EXPECT_EQ(player.Position(), -1);
  EXPECT_EQ(player.Length(), 0);
  EXPECT_FALSE(player.Play());
  EXPECT_FALSE(player.TogglePause());
  EXPECT_FALSE(player.Stop());

  ASSERT_TRUE(OpenAndWait(player, wav_));
  player.Close();
  EXPECT_FALSE(player.LengthKnown());
  EXPECT_EQ(player.State(), 0);
  EXPECT_EQ(player.Position(), -1);
  EXPECT_EQ(player.Length(), 0);
}

TEST_F(MediaPlayerTest, OpenIsBoundedWhenTheServerNeverAnswers) {
  MediaPlayer player;
  player.SetOpenBound(1500ms);
  const auto start = std::chrono::steady_clock::now();
  // Returns at once, loading and ready to play.
  EXPECT_TRUE(player.Open(Url("/stall.mp3")));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_FALSE(player.LengthKnown());
  EXPECT_EQ(player.Position(), -1);
  EXPECT_TRUE(player.Play());
  EXPECT_EQ(player.State(), 1);
  ASSERT_TRUE(WaitUntil([&] { return player.LengthKnown(); }, 5s));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1400ms);
  EXPECT_LT(took, 5s);
  EXPECT_EQ(player.Length(), 0);
  EXPECT_EQ(player.State(), 0);
  EXPECT_EQ(player.Position(), -1);
  // The abandoned load does not get in the way of the next one (given the usual bound:
  // opening the audio output alone may take a while on a slow machine).
  player.SetOpenBound(10s);
  ASSERT_TRUE(OpenAndWait(player, wav_));
  EXPECT_EQ(player.Length(), 3);
  EXPECT_EQ(player.State(), 2);

  // Overtaken while it stalls, an open never reports: only the newer one does, once.
  int reports = 0;
  QObject::connect(&player, &MediaPlayer::lengthKnown, [&] { ++reports; });
  player.Open(Url("/stall.mp3"));
  player.Open(wav_);
  ASSERT_TRUE(WaitUntil([&] { return player.LengthKnown(); }, 5s));
  EXPECT_EQ(player.Length(), 3);
  EXPECT_FALSE(WaitUntil([&] { return reports > 1; }, 2s));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(player.Length(), 3);
}

}  // namespace
}  // namespace newsbar
