// The player's state, shared by the window's handlers. One instance for the process.
#pragma once

#include <atomic>

#include "util/threads.h"

namespace newsbar {

// List row last started by PlayEpisode.
extern std::atomic<int> CurrentRow;
// Row count - 1 (-1 for an empty list), written by the catalogue worker before its signal.
extern std::atomic<int> LastRow;
// 1 in order, 2 repeat one, 3 shuffle. The worker sets 1 when it starts.
extern std::atomic<int> LoopMode;
// +1 while next is held, -1 while previous is held, 0 otherwise.
extern std::atomic<int> SeekDirection;
// The catalogue worker last started. Used on the window's thread only.
extern ThreadHandle WorkerThread;

// Everything back to 0 and an invalid worker handle, as at process start. A new window
// calls it, so each one (tests make several) starts from the same state.
void ResetPlayerState();

}  // namespace newsbar
