// Start-up, the hand-over from the catalogue worker, the retry flow and closing.
#include "app/app_texts.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "util/threads.h"

namespace newsbar {

void PlayerWindow::OnCreated() {
  move(3, 4);
  StartWorker();
}

void PlayerWindow::StartWorker() {
  // Without a routine no thread starts and no signal comes: the window stays initialising.
  if (!worker_) {
    WorkerThread = ThreadHandle();
    return;
  }
  const WorkerTargets targets{.list = episodeList,
                              .doneBox = doneBox,
                              .lastRow = &LastRow,
                              .loopMode = &LoopMode,
                              .networkTime = &loadTime_};
  WorkerThread = ThreadHandle::Start([routine = worker_, targets] { routine(targets); });
}

// The worker wrote "1" into the hidden box: it has finished, with or without rows.
void PlayerWindow::OnInitialisationDone() {
  if (LastRow >= 0) {
    retryButton->setVisible(false);
    for (QWidget* control : std::initializer_list<QWidget*>{listButton, playPauseButton,
                                                            previousButton, nextButton, progress}) {
      control->setEnabled(true);
    }
    PlayEpisode(0);
    OnListLoaded();
  } else {
    ShowInitialisationFailed();
  }
}

void PlayerWindow::ShowInitialisationFailed() {
  retryButton->setVisible(true);
  statusLabel->SetCaption(app_text::kInitialisationFailed);
  ArmRetry();
}

void PlayerWindow::OnRetryClicked() {
  // A click takes the place of the automatic retry; its verdict arms the next one.
  retryTimer_.stop();
  retryButton->setVisible(false);
  statusLabel->SetCaption(app_text::kInitialising);
  StartWorker();
  // Keeps handling the window's events, so the worker's signal (and with it the
  // verdict above) may run inside this wait.
  while (ThreadRunState(WorkerThread) == 1) WaitWithMessages(100);
  if (LastRow >= 0) {
    retryButton->setVisible(false);
    PlayEpisode(0);
  } else {
    ShowInitialisationFailed();
  }
}

void PlayerWindow::OnCloseClicked() {
  EndProcess();
}

}  // namespace newsbar
