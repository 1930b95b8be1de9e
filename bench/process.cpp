#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

extern char** environ;

namespace newsbar::bench {

namespace {

// posix_spawn's file actions, released however the spawn ends.
struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
};

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> byName;
  auto add = [&byName](std::string entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) return;
    byName[entry.substr(0, equals)] = std::move(entry);
  };
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) add(*entry);
  for (const std::string& entry : extra) add(entry);
  std::vector<std::string> merged;
  for (auto& [name, entry] : byName) merged.push_back(std::move(entry));
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(pid_t pid) : pid_(pid) {
  // Through the system call itself: this C library's wrapper is not declared for C++.
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

ChildProcess ChildProcess::Spawn(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& environment) {
  return SpawnWith(argv, environment, false);
}

ChildProcess ChildProcess::SpawnTalking(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& environment) {
  return SpawnWith(argv, environment, true);
}

ChildProcess ChildProcess::SpawnWith(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& environment, bool talking) {
  if (argv.empty()) return {};
  // [0] read ends, [1] write ends; ours are not inherited by the program.
  int input[2] = {-1, -1};
  int output[2] = {-1, -1};
  auto closeAll = [&] {
    for (int fd : {input[0], input[1], output[0], output[1]}) {
      if (fd >= 0) close(fd);
    }
  };
  if (talking && (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)) {
    closeAll();
    return {};
  }
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = MergedEnvironment(environment);
  std::vector<char*> argumentPointers = Pointers(arguments);
  std::vector<char*> variablePointers = Pointers(variables);

  FileActions files;
  if (talking) {
    posix_spawn_file_actions_adddup2(&files.actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, output[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&files.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, arguments[0].c_str(), &files.actions, nullptr, argumentPointers.data(),
                   variablePointers.data()) != 0) {
    closeAll();
    return {};
  }
  ChildProcess child(pid);
  if (talking) {
    close(input[0]);
    close(output[1]);
    child.toChild_ = input[1];
    child.fromChild_ = output[0];
  }
  return child;
}

bool ChildProcess::Say(std::string_view line) {
  if (toChild_ < 0) return false;
  // A program that has ended gives EPIPE here instead of ending this process.
  static const bool pipeSignalIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)pipeSignalIgnored;
  std::string text(line);
  text += '\n';
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t wrote = write(toChild_, text.data() + sent, text.size() - sent);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

std::optional<std::string> ChildProcess::Hear(std::string_view prefix,
                                              std::chrono::milliseconds timeout) {
  if (fromChild_ < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (std::size_t end; (end = heard_.find('\n')) != std::string::npos;) {
      std::string line = heard_.substr(0, end);
      heard_.erase(0, end + 1);
      if (line.starts_with(prefix)) return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd watch{.fd = fromChild_, .events = POLLIN, .revents = 0};
    const int ready = poll(&watch, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[512];
    const ssize_t got = read(fromChild_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;  // the program has closed its stdout (or ended)
    heard_.append(chunk, static_cast<std::size_t>(got));
  }
}

ChildProcess::~ChildProcess() {
  End();
  for (int fd : {pidFd_, toChild_, fromChild_}) {
    if (fd >= 0) close(fd);
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      toChild_(std::exchange(other.toChild_, -1)),
      fromChild_(std::exchange(other.fromChild_, -1)),
      heard_(std::move(other.heard_)),
      pidFd_(std::exchange(other.pidFd_, -1)),
      reaped_(other.reaped_),
      status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    End();
    for (int fd : {pidFd_, toChild_, fromChild_}) {
      if (fd >= 0) close(fd);
    }
    pid_ = std::exchange(other.pid_, -1);
    toChild_ = std::exchange(other.toChild_, -1);
    fromChild_ = std::exchange(other.fromChild_, -1);
    heard_ = std::move(other.heard_);
    pidFd_ = std::exchange(other.pidFd_, -1);
    reaped_ = other.reaped_;
    status_ = other.status_;
  }
  return *this;
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

bool ChildProcess::WaitReadable(std::chrono::milliseconds timeout) const {
  if (pidFd_ < 0) return false;
  pollfd watch{.fd = pidFd_, .events = POLLIN, .revents = 0};
  const int millis = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30));
  int ready = 0;
  do {
    ready = poll(&watch, 1, millis);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  if (!reaped_) {
    // Without a pidfd (an old kernel) the only bound-keeping wait is a blocking one.
    if (pidFd_ >= 0 && !WaitReadable(timeout)) return std::nullopt;
    if (waitpid(pid_, &status_, 0) != pid_) return std::nullopt;
    reaped_ = true;
  }
  if (!WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

void ChildProcess::End() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGTERM);
  if (pidFd_ < 0 || !WaitReadable(std::chrono::seconds(3))) kill(pid_, SIGKILL);
  if (waitpid(pid_, &status_, 0) == pid_) reaped_ = true;
}

std::optional<int> RunToEnd(const std::vector<std::string>& argv,
                            std::chrono::milliseconds timeout) {
  ChildProcess child = ChildProcess::Spawn(argv);
  if (!child.Started()) return std::nullopt;
  return child.Wait(timeout);
}

namespace {

// The value of a "Name:   123 kB" line of a /proc file.
std::optional<long> KilobyteField(std::string_view text, std::string_view name) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ':') continue;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    long kb = 0;
    const char* stop = value.data() + value.size();
    const auto [rest, error] = std::from_chars(value.data(), stop, kb);
    if (error != std::errc() || kb < 0 ||
        !std::string_view(rest, static_cast<std::size_t>(stop - rest)).starts_with(" kB"))
      return std::nullopt;
    return kb;
  }
  return std::nullopt;
}

}  // namespace

std::optional<MemoryUse> ParseMemoryUse(std::string_view statusText) {
  auto field = [statusText](std::string_view name) { return KilobyteField(statusText, name); };
  const std::optional<long> rss = field("VmRSS");
  const std::optional<long> hwm = field("VmHWM");
  if (!rss || !hwm) return std::nullopt;
  return MemoryUse{.rssKb = *rss, .hwmKb = *hwm, .anonKb = field("RssAnon").value_or(-1)};
}

void ParseSmapsRollup(std::string_view rollupText, MemoryUse& use) {
  use.pssKb = KilobyteField(rollupText, "Pss").value_or(-1);
  const std::optional<long> clean = KilobyteField(rollupText, "Private_Clean");
  const std::optional<long> dirty = KilobyteField(rollupText, "Private_Dirty");
  use.privateKb = clean && dirty ? *clean + *dirty : -1;
  use.privateDirtyKb = dirty.value_or(-1);
}

std::optional<MemoryUse> ReadMemoryUse(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const std::optional<std::string> text = ReadWholeFile(proc + "/status");
  if (!text) return std::nullopt;
  std::optional<MemoryUse> use = ParseMemoryUse(*text);
  if (!use) return std::nullopt;
  if (const std::optional<std::string> rollup = ReadWholeFile(proc + "/smaps_rollup"))
    ParseSmapsRollup(*rollup, *use);
  return use;
}

ResidentBreakdown ParseResidentBreakdown(std::string_view smapsText) {
  ResidentBreakdown breakdown;
  long* current = &breakdown.ownKb;
  std::size_t at = 0;
  while (at < smapsText.size()) {
    const std::size_t end = std::min(smapsText.find('\n', at), smapsText.size());
    const std::string_view line = smapsText.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("Rss:")) {
      std::string_view value = line.substr(4);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      long kb = 0;
      const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), kb);
      if (error == std::errc() && kb > 0) *current += kb;
      continue;
    }
    // A mapping's header: "start-end perms offset dev inode   [path]". Field lines
    // ("Size:", "VmFlags:") start with a capital letter and hold no '-' before a space.
    const std::size_t space = line.find(' ');
    const std::size_t dash = line.find('-');
    if (space == std::string_view::npos || dash == std::string_view::npos || dash > space) continue;
    std::string_view path;
    std::size_t field = 0;
    std::size_t position = 0;
    // The path is whatever follows the fifth field.
    while (field < 5 && position < line.size()) {
      position = line.find_first_not_of(' ', position);
      if (position == std::string_view::npos) break;
      position = line.find(' ', position);
      if (position == std::string_view::npos) position = line.size();
      ++field;
    }
    if (field == 5 && position < line.size()) {
      const std::size_t start = line.find_first_not_of(' ', position);
      if (start != std::string_view::npos) path = line.substr(start);
    }
    if (path.empty() || path.front() == '[' || path.starts_with("/memfd:")) {
      current = &breakdown.ownKb;
    } else if (path.find("/libQt6") != std::string_view::npos ||
               path.find("/qt6/plugins/") != std::string_view::npos) {
      current = &breakdown.toolkitKb;
    } else if (path.find("/fonts/") != std::string_view::npos) {
      current = &breakdown.fontsKb;
    } else {
      current = &breakdown.librariesKb;
    }
  }
  return breakdown;
}

std::optional<ResidentBreakdown> ReadResidentBreakdown(pid_t pid) {
  const std::optional<std::string> text = ReadWholeFile("/proc/" + std::to_string(pid) + "/smaps");
  if (!text || text->empty()) return std::nullopt;
  return ParseResidentBreakdown(*text);
}

std::optional<long long> ParseCpuTicks(std::string_view statText) {
  // The command name (field 2) is in parentheses and may hold spaces and parentheses of
  // its own; the fields after the last ')' start with field 3, the state.
  const std::size_t close = statText.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::istringstream fields{std::string(statText.substr(close + 1))};
  std::vector<std::string> tokens;
  for (std::string token; fields >> token;) tokens.push_back(token);
  // utime is field 14 and stime field 15.
  constexpr std::size_t kUtime = 14 - 3;
  if (tokens.size() <= kUtime + 1) return std::nullopt;
  long long total = 0;
  for (std::size_t index : {kUtime, kUtime + 1}) {
    const std::string& token = tokens[index];
    long long ticks = 0;
    const auto [rest, error] = std::from_chars(token.data(), token.data() + token.size(), ticks);
    if (error != std::errc() || rest != token.data() + token.size() || ticks < 0)
      return std::nullopt;
    total += ticks;
  }
  return total;
}

std::optional<double> ReadCpuSeconds(pid_t pid) {
  const std::optional<std::string> text = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  const std::optional<long long> ticks = ParseCpuTicks(*text);
  const long perSecond = sysconf(_SC_CLK_TCK);
  if (!ticks || perSecond <= 0) return std::nullopt;
  return static_cast<double>(*ticks) / static_cast<double>(perSecond);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return bytes.str();
}

}  // namespace newsbar::bench
