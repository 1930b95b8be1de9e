// The player: a 408 x 109 bar with the cover, the title, the progress slider, the two
// time labels and the picture buttons, and the episode list that drops down below it.
// Each control's objectName is its Chinese control name ("按钮_播放暂停", ...).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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

 signals:
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
  // Cover downloads under way; a cover that comes after the window has gone is dropped.
  BackgroundWork covers_;
  std::chrono::milliseconds coverLimit_{0};
  // Counts row starts (and stops): a cover or length that belongs to an older one is
  // dropped.
  std::uint64_t startSerial_ = 0;
  StartStep startStep_ = StartStep::kDone;
  // The seek button held down has moved the slider at least once: its click is no click.
  bool seekHeld_ = false;
};

}  // namespace newsbar
