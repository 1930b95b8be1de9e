// The player: a 408 x 109 bar with the cover, the title, the progress slider, the two
// time labels and the picture buttons, and the episode list that drops down below it.
// Each control's objectName is its Chinese control name ("按钮_播放暂停", ...).
#pragma once

#include <QNetworkInformation>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "catalogue/catalogue_refresh.h"
#include "catalogue/catalogue_worker.h"
#include "runtime/background_work.h"
#include "runtime/controls.h"
#include "runtime/media_player.h"

namespace newsbar {

// The episode list's columns (SetUpListColumns): title, audio URL, cover URL, status, and
// the copy of the duration that the status column gets back when another row starts.
inline constexpr int kTitleColumn = 0;
inline constexpr int kAudioColumn = 1;
inline constexpr int kCoverColumn = 2;
inline constexpr int kStatusColumn = 3;
inline constexpr int kDurationColumn = 4;

// How the list is kept current. The defaults are the shipped values; tests shorten them.
struct RefreshTiming {
  // How often the schedule is looked at: a refresh that is due runs at most this late.
  std::chrono::milliseconds check{std::chrono::seconds(20)};
  // Between two refreshes, by the wall clock.
  std::chrono::milliseconds period{std::chrono::minutes(30)};
  // The first retry of a failed start, then twice as long each time up to the longest.
  std::chrono::milliseconds firstRetry{std::chrono::seconds(10)};
  std::chrono::milliseconds longestRetry{std::chrono::minutes(5)};
  // The wall clock the schedule reads (the system's unless set).
  std::function<std::chrono::system_clock::time_point()> wallClock;
};

class PlayerWindow : public Window {
  Q_OBJECT
 public:
  // Runs on the worker thread; main() hands in one that calls CatalogueWorker.
  using WorkerRoutine = std::function<void(const WorkerTargets&)>;

  explicit PlayerWindow(WorkerRoutine worker, QWidget* parent = nullptr);
  // Waits for a worker that is still running: it writes into this window's controls.
  ~PlayerWindow() override;

  // Starts a list row: status cells, pictures and title at once; then the cover, fetched
  // off this thread; then the media, opened without waiting; once its length is known,
  // the slider's range, the total time and the play timer. A later start overtakes one
  // still under way, whose cover and media never land. Row -1 stops and closes the media
  // and changes nothing else.
  void PlayEpisode(int row);
  // True from PlayEpisode until the started row's length is known.
  bool StartUnderWay() const { return startStep_ != StartStep::kDone; }

  MediaPlayer& Media() { return *media_; }
  // How long a cover download may take in all; the transport's own 10 s unless set. The
  // open bound is the media player's (Media().SetOpenBound).
  void SetCoverLimit(std::chrono::milliseconds limit) { coverLimit_ = limit; }

  // What the playback buttons do when clicked, and what the slider does when the user
  // moves it. The desktop's media controls (mpris.h) call these very handlers.
  void OnPlayPauseClicked();
  void OnNextClicked();
  void OnPreviousClicked();
  void OnProgressMoved();
  // The episode has ended: the loop mode picks the row to start (or stops playback).
  void OnEpisodeEnded();
  // The slider and the media to `seconds`: paused media stays paused there, otherwise it
  // plays from there, as after a move of the slider.
  void JumpTo(int seconds);
  // 1 in order, 2 repeat one, 3 shuffle: LoopMode and the loop button's picture, as the
  // button's clicks set them. Other values change nothing.
  void SetLoopMode(int mode);

  // From now on, keeps the list current with the catalogue at `endpoints`: once a list is
  // loaded, it is fetched again at 05:00 UTC+8 by the network's clock (the one the load
  // read, carried forward by the wall clock), every `period` by the wall clock (so one
  // that fell due during a suspend runs at once), and when the network comes back; new
  // episodes are inserted where they belong and nothing else changes. A failed start is
  // retried as the retry button does, when the network comes back or after a backoff.
  // Without this call the list is loaded once, as before.
  void KeepListCurrent(const Endpoints& endpoints, RefreshTiming timing = {});
  // Rows a refresh has inserted so far.
  int RowsAddedByRefresh() const { return rowsAdded_; }

  // The controls, in the order of the window's table.
  PictureBox* cover;           // 图片框1
  PictureButton* retryButton;  // 按钮_重试
  Label* statusLabel;          // 标签1
  PictureButton* closeButton;  // 按钮_关闭
  Slider* progress;            // 滑块条_播放进度
  Label* elapsedLabel;         // 标签_现行时长
  Label* totalLabel;           // 标签_总时长
  // Shown while the episode's stream is lost and being opened again.
  Label* waitingLabel;             // 标签_等待网络
  PictureButton* loopButton;       // 按钮_循环方式
  EditBox* doneBox;                // 编辑框_初始化完成
  PictureButton* previousButton;   // 按钮_上一个
  PictureButton* playPauseButton;  // 按钮_播放暂停
  PictureButton* nextButton;       // 按钮_下一个
  PictureButton* listButton;       // 按钮_列表
  ListView* episodeList;           // 超级列表框1
  PictureButton* collapseButton;   // 按钮_收缩展开
  Timer* playTimer;                // 时钟_播放
  Timer* seekTimer;                // 时钟_快进

 public slots:
  // What is due on a resume or when the network is back: with a list, a refresh at once
  // (none while one is under way); after a failed start, the retry at once (none while a
  // retry is under way). Does nothing before KeepListCurrent.
  void RefreshNow();

 signals:
  // A refresh's result has been taken in: `listed` false when it failed (nothing changed).
  void refreshed(bool listed);
  // An episode started or playback stopped, paused or resumed (after the change).
  void playbackChanged();
  // The media was sent to the slider's position (seek released, slider moved).
  void positionJumped();
  // The loop button shows another mode (after the change).
  void loopModeChanged();

 protected:
  // Space plays and pauses when no control takes it (a focused button clicks itself).
  void keyPressEvent(QKeyEvent* event) override;
  // A close from the desktop (title bar, Alt+F4, taskbar, logout) ends the process as the
  // close button does, in every phase.
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Start-up and hand-over (startup.cpp).
  void OnCreated();
  void OnInitialisationDone();
  void OnRetryClicked();
  void OnCloseClicked();
  void StartWorker();
  void ShowInitialisationFailed();

  // Keeping the list current (list_refresh.cpp).
  std::chrono::system_clock::time_point WallNow() const;
  void OnListLoaded();
  void OnScheduleCheck();
  void StartRefresh();
  void OnRefreshed(RefreshResult result);
  void InsertNewRows(const std::vector<EpisodeRow>& fresh);
  // The next 05:00 at UTC+8 by the network time `time`, read at `wall`.
  void AnchorNetworkTime(const CalendarTime& time, std::chrono::system_clock::time_point wall);
  void ArmRetry();
  void OnRetryDue();
  void WatchNetwork();
  void OnReachabilityChanged(QNetworkInformation::Reachability reachability);

  // Playback (playback.cpp).
  enum class StartStep { kDone, kMedia };
  void OnCoverArrived(std::uint64_t start, const ByteSet& picture);
  void OnLengthKnown();
  void OnWaitingChanged(bool waiting);
  void OnPlayTimerTick();
  void OnSeekPressed(int direction);
  void OnSeekReleased();
  void OnSeekButtonClicked(int direction);
  void OnSeekTimerTick();
  void OnLoopClicked();
  // The loop button's accessible name and tooltip say the mode its picture shows.
  void NameLoopButton();
  // The play/pause button's picture, with the accessible name and tooltip of what a
  // press does next ("播放" under the play picture, "暂停" under the pause picture).
  void SetPlayPausePicture(const ByteSet& picture);
  int DrawShuffleRow();

  // List and window heights (list_modes.cpp).
  void SetUpListColumns();
  void OnListDoubleClicked();
  void OnListReturnPressed();
  // The list and the collapse bar take the keyboard (and show in the accessibility tree)
  // only while the window is tall enough to show them.
  void UpdateReachableControls();
  void OnListButtonClicked();
  void OnCollapseClicked();

  void CreateControls();
  void ApplyLook();
  void ConnectHandlers();
  // Keyboard order over the controls, play/pause first and close last.
  void SetUpKeyboard();

  WorkerRoutine worker_;
  std::unique_ptr<MediaPlayer> media_;
  // Cover downloads; a cover that comes after the window has gone is dropped. Two
  // threads, so that a cover server that hangs until the transport's bound holds up the
  // next row's cover only if it hangs too.
  BackgroundWork covers_{2};
  std::chrono::milliseconds coverLimit_{0};
  // Counts row starts (and stops): a cover or length that belongs to an older one is
  // dropped.
  std::uint64_t startSerial_ = 0;
  StartStep startStep_ = StartStep::kDone;
  // The seek button held down has moved the slider at least once: its click is no click.
  bool seekHeld_ = false;

  // Keeping the list current: null until KeepListCurrent.
  std::unique_ptr<CatalogueRefresh> refresh_;
  RefreshTiming timing_;
  QTimer scheduleTimer_;
  QTimer retryTimer_;
  std::chrono::milliseconds nextRetry_{0};
  // A load has listed episodes: refreshes from now on, no more retries.
  bool listLoaded_ = false;
  // The network time the load judged by, written by the worker before its signal.
  CalendarTime loadTime_;
  std::chrono::system_clock::time_point nextPeriodic_;
  std::optional<std::chrono::system_clock::time_point> nextMorning_;
  bool watchingNetwork_ = false;
  QNetworkInformation::Reachability reachability_ = QNetworkInformation::Reachability::Unknown;
  int rowsAdded_ = 0;
};

}  // namespace newsbar
