// Child processes for the runner, and what /proc says about them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace newsbar::bench {

// A program started with its output sent to /dev/null. The object owns the process: when
// it goes, the process is ended (SIGTERM, then SIGKILL) and reaped.
class ChildProcess {
 public:
  ChildProcess() = default;
  // argv[0] is looked up in PATH when it holds no slash; `environment` entries
  // ("NAME=value") are added to this process's environment, replacing the same names.
  static ChildProcess Spawn(const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment = {});
  // The same, with the program's stdin and stdout connected to this process (Say, Hear).
  static ChildProcess SpawnTalking(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // True while the process has not exited.
  bool Running();
  // Waits for the exit at most `timeout`; the exit code, or nothing when it is still
  // running, was killed by a signal or never started.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // SIGTERM, a grace period, then SIGKILL; reaps it either way.
  void End();

  // A line to the program's stdin; false when it cannot be written.
  bool Say(std::string_view line);
  // The next line of the program's stdout that starts with `prefix`, reading (and
  // dropping) the lines before it for at most `timeout`; nothing when none came.
  std::optional<std::string> Hear(std::string_view prefix, std::chrono::milliseconds timeout);

 private:
  explicit ChildProcess(pid_t pid);
  static ChildProcess SpawnWith(const std::vector<std::string>& argv,
                                const std::vector<std::string>& environment, bool talking);
  bool WaitReadable(std::chrono::milliseconds timeout) const;

  pid_t pid_ = -1;
  int toChild_ = -1;    // its stdin, when talking
  int fromChild_ = -1;  // its stdout, when talking
  std::string heard_;   // read from its stdout, not yet handed out
  int pidFd_ = -1;      // readable once the process has exited
  bool reaped_ = false;
  int status_ = 0;
};

// Runs a program to its end (at most `timeout`); its exit code, nothing on failure.
std::optional<int> RunToEnd(const std::vector<std::string>& argv,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30));

struct MemoryUse {
  long rssKb = 0;  // VmRSS
  long hwmKb = 0;  // VmHWM, the peak of VmRSS
  // RssAnon: the part of VmRSS that is the process's own (not pages of shared library
  // and font files); -1 when the kernel does not say.
  long anonKb = -1;
  // From /proc/<pid>/smaps_rollup (-1 when the kernel does not say): the proportional
  // share (Pss: each shared page divided among the processes that map it), and the
  // private memory (Private_Clean + Private_Dirty: the pages no other process maps, what
  // ending the process would give back).
  long pssKb = -1;
  long privateKb = -1;
  // Of that, the pages the process has written (Private_Dirty): heap, stacks, relocated
  // library data. The rest of the private pages are library and font pages that no other
  // process happens to map at the moment, so "private" depends on what else runs.
  long privateDirtyKb = -1;
};

// VmRSS, VmHWM and RssAnon from the text of /proc/<pid>/status; nothing when VmRSS or
// VmHWM is missing.
std::optional<MemoryUse> ParseMemoryUse(std::string_view statusText);
// Pss and the private memory from the text of /proc/<pid>/smaps_rollup into `use`.
void ParseSmapsRollup(std::string_view rollupText, MemoryUse& use);
// Both files of the process.
std::optional<MemoryUse> ReadMemoryUse(pid_t pid);

// Resident memory by the kind of mapping it belongs to, in kB, from /proc/<pid>/smaps.
struct ResidentBreakdown {
  long ownKb = 0;        // anonymous memory, heap, stacks, memfd: the process's own
  long toolkitKb = 0;    // the window toolkit's libraries (libQt6*) and its plugins
  long fontsKb = 0;      // font files
  long librariesKb = 0;  // every other file: libraries, the executable, data files
};
ResidentBreakdown ParseResidentBreakdown(std::string_view smapsText);
std::optional<ResidentBreakdown> ReadResidentBreakdown(pid_t pid);

// utime + stime in clock ticks from the text of /proc/<pid>/stat (all threads).
std::optional<long long> ParseCpuTicks(std::string_view statText);
// The CPU time the process has used so far, in seconds.
std::optional<double> ReadCpuSeconds(pid_t pid);

// The median of the values (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> values);

// The whole file, nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace newsbar::bench
