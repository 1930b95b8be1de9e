// Playback: starting a row, the play timer with the end-of-episode rule, play/pause,
// previous and next (clicked and held to seek), the progress slider and the loop mode.
#include <QAccessible>
#include <algorithm>
#include <chrono>
#include <random>

#include "app/app_texts.h"
#include "app/images.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "net/wininet_http_request.h"
#include "util/duration.h"

namespace newsbar {

namespace {

constexpr int kPlayTick = 1000;  // ms
constexpr int kSeekTick = 100;   // ms
constexpr int kSeekStep = 10;    // seconds of slider position per seek tick

Text TimeText(int seconds) {
  return FormatDuration(seconds, app_text::kTimePattern);
}

}  // namespace

void PlayerWindow::PlayEpisode(int row) {
  // Whatever an earlier start was still waiting for no longer lands.
  const std::uint64_t start = ++startSerial_;
  if (row == -1) {
    startStep_ = StartStep::kDone;
    media_->Stop();
    media_->Close();
    // Nothing plays any more: the button offers to play (the current row again).
    SetPlayPausePicture(PlayImage());
    emit playbackChanged();
    return;
  }
  const Text title = episodeList->CellText(row, kTitleColumn);
  const Text audioUrl = episodeList->CellText(row, kAudioColumn);
  const Text coverUrl = episodeList->CellText(row, kCoverColumn);

  // The row played before shows its duration again.
  episodeList->SetCellText(CurrentRow, kStatusColumn,
                           episodeList->CellText(CurrentRow, kDurationColumn));
  episodeList->SetCellText(row, kStatusColumn, app_text::kPlaying);
  SetPlayPausePicture(PauseImage());
  CurrentRow = row;
  elapsedLabel->SetCaption(app_text::kZeroTime);
  statusLabel->SetCaption(title);
  progress->SetPosition(0);

  // The episode before stops now, not once the new one is there; no tick may judge its end
  // until the new length is known.
  playTimer->SetInterval(0);
  media_->Close();

  // The cover request leaves first and the audio's right after it, without waiting for
  // the picture: it is shown when it comes; an empty answer leaves the box empty. Covers
  // of earlier starts that have not left yet never will.
  covers_.DropWaiting();
  covers_.Run<ByteSet>(
      [coverUrl, limit = coverLimit_] {
        WinInetHttpRequestOptions request;  // a GET of the URL alone, all else default
        request.url = coverUrl;
        request.timeoutMs = static_cast<std::uint32_t>(limit.count());
        return WinInetHttpRequest(request);
      },
      [this, start](ByteSet picture) { OnCoverArrived(start, picture); });
  startStep_ = StartStep::kMedia;
  // The desktop's mixer lists the stream under the episode's title.
  media_->SetTitle(statusLabel->Caption());
  media_->Open(audioUrl);
  media_->Play();
  emit playbackChanged();
}

void PlayerWindow::OnCoverArrived(std::uint64_t start, const ByteSet& picture) {
  // A later start's cover is the one to show.
  if (start != startSerial_) return;
  cover->SetPicture(picture);
  // The title shown beside it names the picture.
  cover->setAccessibleName(statusLabel->text());
}

// Only the media opened by the latest start reports: Open and Close drop the rest.
void PlayerWindow::OnLengthKnown() {
  if (startStep_ != StartStep::kMedia) return;
  startStep_ = StartStep::kDone;
  // 0 when the URL could not be opened: the next tick then finds the episode ended.
  const int length = media_->Length();
  progress->SetMaximumPosition(length);
  totalLabel->SetCaption(TimeText(length));
  // A seek button held meanwhile keeps the play timer stopped; its release starts it.
  if (SeekDirection == 0) playTimer->SetInterval(kPlayTick);
  emit playbackChanged();
}

void PlayerWindow::OnWaitingChanged(bool waiting) {
  waitingLabel->setVisible(waiting);
  if (waiting) {
    QAccessibleEvent alert(waitingLabel, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
  }
  emit playbackChanged();
}

void PlayerWindow::OnPlayTimerTick() {
  const int positionMs = media_->Position();
  // A failed read (-1, nothing open) counts as the start.
  progress->SetPosition(positionMs > 0 ? positionMs / 1000 : 0);
  elapsedLabel->SetCaption(TimeText(progress->Position()));
  // The slider's maximum is the new episode's only once its length is known.
  if (StartUnderWay()) return;
  if (progress->MaximumPosition() > progress->Position()) return;
  // The episode has ended (or could not be opened: its length is 0).
  OnEpisodeEnded();
}

void PlayerWindow::OnEpisodeEnded() {
  int next = -1;
  switch (LoopMode) {
    case 1:
      next = CurrentRow < LastRow ? CurrentRow + 1 : -1;
      break;
    case 2:
      next = CurrentRow;
      break;
    case 3:
      next = DrawShuffleRow();
      break;
    default:
      // No mode has been set (no worker ran): nothing further starts.
      return;
  }
  PlayEpisode(next);
}

int PlayerWindow::DrawShuffleRow() {
  // Seeded afresh from the clock each time, with a counter so two draws in the same
  // millisecond still differ.
  static unsigned counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  std::mt19937 generator(
      static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) +
      counter++);
  const int last = LastRow;
  if (last < 0) return -1;  // an empty list has no row to draw
  return std::uniform_int_distribution<int>(0, last)(generator);
}

void PlayerWindow::OnPlayPauseClicked() {
  // Playback has stopped (the end of the list, a stop from the desktop): nothing is open
  // that could resume, so the row shown starts again.
  if (media_->State() == 0 && !StartUnderWay() && CurrentRow >= 0 && CurrentRow <= LastRow) {
    PlayEpisode(CurrentRow);
    return;
  }
  if (media_->State() != 1) {
    media_->Play();
    SetPlayPausePicture(PauseImage());
  } else {
    media_->TogglePause();
    SetPlayPausePicture(PlayImage());
  }
  emit playbackChanged();
}

void PlayerWindow::SetPlayPausePicture(const ByteSet& picture) {
  playPauseButton->SetPicture(picture);
  // Named for what a press does next.
  const QString name = QString::fromUtf8(picture == PlayImage() ? "播放" : "暂停");
  playPauseButton->setAccessibleName(name);
  playPauseButton->setToolTip(name);
}

void PlayerWindow::OnNextClicked() {
  PlayEpisode(CurrentRow < LastRow ? CurrentRow + 1 : 0);
}

void PlayerWindow::OnPreviousClicked() {
  PlayEpisode(CurrentRow > 0 ? CurrentRow - 1 : 0);
}

void PlayerWindow::OnSeekPressed(int direction) {
  seekHeld_ = false;
  SeekDirection = direction;
  seekTimer->SetInterval(kSeekTick);
  playTimer->SetInterval(0);
}

void PlayerWindow::OnSeekTimerTick() {
  // From the first step on the press is a hold, not a click.
  seekHeld_ = true;
  // The label shows where the slider was before this step, so it trails by one tick.
  const int position = progress->Position();
  elapsedLabel->SetCaption(TimeText(position));
  int moved = position;
  if (SeekDirection == 1) moved = position + kSeekStep;
  if (SeekDirection == -1) moved = position - kSeekStep;
  progress->SetPosition(std::clamp(moved, 0, std::max(0, progress->MaximumPosition())));
}

void PlayerWindow::OnSeekReleased() {
  SeekDirection = 0;
  seekTimer->SetInterval(0);
  if (media_->Play(progress->Position() * 1000)) SetPlayPausePicture(PauseImage());
  playTimer->SetInterval(kPlayTick);
  emit positionJumped();
}

void PlayerWindow::OnSeekButtonClicked(int direction) {
  // The click that ends a hold leaves the row alone: the release has just sent the media
  // to where the hold took the slider.
  if (seekHeld_) {
    seekHeld_ = false;
    return;
  }
  if (direction > 0) {
    OnNextClicked();
  } else {
    OnPreviousClicked();
  }
}

void PlayerWindow::OnProgressMoved() {
  if (media_->Play(progress->Position() * 1000)) SetPlayPausePicture(PauseImage());
  emit positionJumped();
}

void PlayerWindow::JumpTo(int seconds) {
  progress->SetPosition(seconds);
  if (media_->State() != 3) {
    OnProgressMoved();
    return;
  }
  media_->Seek(progress->Position() * 1000);
  emit positionJumped();
}

// The mode is read from the picture the button shows, not from LoopMode: after a retry
// the worker resets LoopMode while the button keeps the picture the user chose.
void PlayerWindow::OnLoopClicked() {
  const ByteSet& shown = loopButton->Picture();
  if (shown == LoopImageInOrder()) {
    SetLoopMode(2);
  } else if (shown == LoopImageRepeatOne()) {
    SetLoopMode(3);
  } else if (shown == LoopImageShuffle()) {
    SetLoopMode(1);
  }
}

void PlayerWindow::SetLoopMode(int mode) {
  const ByteSet* picture = nullptr;
  if (mode == 1) picture = &LoopImageInOrder();
  if (mode == 2) picture = &LoopImageRepeatOne();
  if (mode == 3) picture = &LoopImageShuffle();
  if (!picture) return;
  LoopMode = mode;
  loopButton->SetPicture(*picture);
  NameLoopButton();
  emit loopModeChanged();
}

}  // namespace newsbar
