// libmpv, opened at run time instead of being linked. Loading it, with the two hundred
// and more libraries it pulls in, is most of a cold start; opened this way it loads on a
// thread of its own while the catalogue requests are under way, and a machine without it
// gets a message instead of a loader error.
#pragma once

#include <mpv/client.h>

#include <string>

namespace newsbar {

// The functions of libmpv that the media player calls.
struct MpvFunctions {
  decltype(&::mpv_create) create = nullptr;
  decltype(&::mpv_initialize) initialize = nullptr;
  decltype(&::mpv_terminate_destroy) terminateDestroy = nullptr;
  decltype(&::mpv_set_option_string) setOptionString = nullptr;
  decltype(&::mpv_observe_property) observeProperty = nullptr;
  decltype(&::mpv_set_wakeup_callback) setWakeupCallback = nullptr;
  decltype(&::mpv_wait_event) waitEvent = nullptr;
  decltype(&::mpv_command_async) commandAsync = nullptr;
  decltype(&::mpv_command_node_async) commandNodeAsync = nullptr;
  decltype(&::mpv_set_property_async) setPropertyAsync = nullptr;
  decltype(&::mpv_get_property_async) getPropertyAsync = nullptr;
  decltype(&::mpv_error_string) errorString = nullptr;
};

// The file name (soname) of the libmpv this program was built against.
inline constexpr const char* kMpvLibraryName = NEWSBAR_MPV_SONAME;

// Opens the library of that name and resolves every function above: null when it cannot
// be opened or lacks one of them, with the reason in `error`. An opened library stays
// loaded for the life of the process; a second call for the same name returns the same
// functions (or the same failure) at once. Safe to call from any thread.
const MpvFunctions* LoadMpvLibrary(const std::string& name, std::string* error = nullptr);

// Marks a stretch of work that runs libmpv's code off the window's thread (opening the
// library, starting or taking down an instance). The process's exit waits until none is
// under way, since exit unloads libraries under the feet of code still running in them;
// once the exit has begun, no new stretch may start (Allowed() is false: skip the work).
class MpvWork {
 public:
  MpvWork();
  ~MpvWork();
  MpvWork(const MpvWork&) = delete;
  MpvWork& operator=(const MpvWork&) = delete;
  bool Allowed() const { return allowed_; }

 private:
  bool allowed_;
};

// Starts loading kMpvLibraryName on a thread of its own and returns at once, so that the
// media player finds it loaded, or waits for it off the window's thread.
void PreloadMpvLibrary();

}  // namespace newsbar
