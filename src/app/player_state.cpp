#include "app/player_state.h"

namespace newsbar {

std::atomic<int> CurrentRow{0};
std::atomic<int> LastRow{0};
std::atomic<int> LoopMode{0};
std::atomic<int> SeekDirection{0};
ThreadHandle WorkerThread;

void ResetPlayerState() {
  CurrentRow = 0;
  LastRow = 0;
  LoopMode = 0;
  SeekDirection = 0;
  WorkerThread = ThreadHandle();
}

}  // namespace newsbar
