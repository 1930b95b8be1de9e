#include "runtime/mpv_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "util/log.h"

namespace newsbar {
namespace {

struct Loaded {
  std::unique_ptr<MpvFunctions> functions;  // null when the load failed
  std::string error;
};

// Never destroyed: a media player may still be going away on another thread while the
// process ends, and its functions must stay where they are.
struct LoadedLibraries {
  std::mutex mutex;
  std::map<std::string, Loaded> byName;
};
LoadedLibraries& Libraries() {
  static auto* libraries = new LoadedLibraries;
  return *libraries;
}

// --- loading a library one dependency at a time --------------------------------------------
//
// dlopen holds the dynamic loader's lock from the first library to the last, and creating
// a thread or loading a plugin waits for that lock. libmpv pulls in over two hundred
// libraries; opened in one go, it would stall every other thread of the process for as
// long. Opened leaves first, one library per call, no other thread ever waits for more
// than one library. Every library is still found, relocated and initialised by the
// loader itself, in the order it would have used.

// The libraries a shared object names as its own dependencies (DT_NEEDED), in order;
// nothing when the file is not a 64-bit ELF object this code can read. Read with pread:
// mapping and unmapping two hundred files costs more than the loading saves.
std::vector<std::string> NeededLibraries(const std::string& path) {
  std::vector<std::string> needed;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return needed;
  auto read = [fd](void* into, std::size_t length, std::uint64_t offset) {
    return pread(fd, into, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
  };
  Elf64_Ehdr header{};
  std::vector<Elf64_Phdr> segments;
  if (read(&header, sizeof header, 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_phentsize == sizeof(Elf64_Phdr)) {
    segments.resize(header.e_phnum);
    if (!read(segments.data(), segments.size() * sizeof(Elf64_Phdr), header.e_phoff))
      segments.clear();
  }
  // Addresses in the dynamic section are where the loader maps them: back to file offsets.
  auto fileOffset = [&segments](std::uint64_t address) -> std::optional<std::uint64_t> {
    for (const Elf64_Phdr& segment : segments) {
      if (segment.p_type == PT_LOAD && address >= segment.p_vaddr &&
          address - segment.p_vaddr < segment.p_filesz)
        return segment.p_offset + (address - segment.p_vaddr);
    }
    return std::nullopt;
  };
  // A bound for what a sane dynamic section and its names take.
  constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 24;
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type != PT_DYNAMIC || segment.p_filesz > kMostBytes) continue;
    std::vector<Elf64_Dyn> entries(segment.p_filesz / sizeof(Elf64_Dyn));
    if (!read(entries.data(), entries.size() * sizeof(Elf64_Dyn), segment.p_offset)) break;
    std::optional<std::uint64_t> stringsAt;
    std::uint64_t stringsSize = 0;
    for (const Elf64_Dyn& entry : entries) {
      if (entry.d_tag == DT_STRTAB) stringsAt = fileOffset(entry.d_un.d_ptr);
      if (entry.d_tag == DT_STRSZ) stringsSize = entry.d_un.d_val;
    }
    std::string strings(stringsSize <= kMostBytes ? stringsSize : 0, '\0');
    if (!stringsAt || strings.empty() || !read(strings.data(), strings.size(), *stringsAt)) break;
    for (const Elf64_Dyn& entry : entries) {
      if (entry.d_tag == DT_NULL) break;
      if (entry.d_tag != DT_NEEDED || entry.d_un.d_val >= strings.size()) continue;
      needed.emplace_back(strings.c_str() + entry.d_un.d_val);
    }
    break;
  }
  close(fd);
  return needed;
}

// The directories the loader searches for a library the program names (LD_LIBRARY_PATH
// and the system's), in its order.
std::vector<std::string> SearchDirectories() {
  std::vector<std::string> directories;
  void* self = dlopen(nullptr, RTLD_LAZY);
  if (self == nullptr) return directories;
  Dl_serinfo sizes;
  if (dlinfo(self, RTLD_DI_SERINFOSIZE, &sizes) == 0 && sizes.dls_size >= sizeof(Dl_serinfo)) {
    std::vector<std::max_align_t> storage(sizes.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
    info->dls_size = sizes.dls_size;
    info->dls_cnt = sizes.dls_cnt;
    if (dlinfo(self, RTLD_DI_SERINFO, info) == 0) {
      for (unsigned i = 0; i < info->dls_cnt; ++i)
        directories.emplace_back(info->dls_serpath[i].dls_name);
    }
  }
  dlclose(self);
  return directories;
}

// The file names of the libraries loaded so far: a library is known to the loader by
// the name it was asked for, which for a dependency is its soname.
std::set<std::string> LoadedNames() {
  std::set<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        const std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
        const std::size_t slash = path.rfind('/');
        if (!path.empty())
          static_cast<std::set<std::string>*>(data)->emplace(
              slash == std::string_view::npos ? path : path.substr(slash + 1));
        return 0;
      },
      &names);
  return names;
}

// Opens the dependencies of `name` that are not loaded yet, leaves first, one call each
// (but not `name` itself). The libraries are opened by name, so the loader picks the
// files as it always does; the file found here only tells what each one needs. A library
// this cannot find or read is left to the loader, which then opens it together with its
// own dependencies: the same result, only the lock is held longer.
void OpenDependencies(const std::string& name, const std::vector<std::string>& directories,
                      std::set<std::string>& done) {
  for (const std::string& directory : directories) {
    const std::string path = directory + "/" + name;
    if (access(path.c_str(), R_OK) != 0) continue;
    for (const std::string& dependency : NeededLibraries(path)) {
      if (!done.insert(dependency).second) continue;
      OpenDependencies(dependency, directories, done);
      // Kept open for the life of the process, as the library that needs it would be.
      dlopen(dependency.c_str(), RTLD_LAZY | RTLD_LOCAL);
    }
    return;
  }
}

// --- work that the exit waits for -------------------------------------------------------

struct WorkGate {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
  bool exiting = false;
  bool registered = false;
};
WorkGate& Gate() {
  // Never destroyed: the exit handler below uses it.
  static auto* gate = new WorkGate;
  return *gate;
}

void WaitForWorkAtExit() {
  WorkGate& gate = Gate();
  std::unique_lock lock(gate.mutex);
  gate.exiting = true;
  gate.idle.wait(lock, [&gate] { return gate.running == 0; });
}

template <typename Function>
bool Resolve(void* library, const char* symbol, Function& function, std::string& missing) {
  // POSIX guarantees that a dlsym result converts to a function pointer.
  function = reinterpret_cast<Function>(dlsym(library, symbol));
  if (function == nullptr && missing.empty()) missing = symbol;
  return function != nullptr;
}

Loaded Load(const std::string& name) {
  Loaded loaded;
  const auto start = std::chrono::steady_clock::now();
  std::set<std::string> done = LoadedNames();
  const std::size_t loadedBefore = done.size();
  OpenDependencies(name, SearchDirectories(), done);
  // RTLD_LOCAL: its symbols serve only the lookups below, never the program's own.
  // RTLD_LAZY: functions are bound when first called, as for a linked library.
  void* library = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    loaded.error = why != nullptr ? why : "cannot be opened";
    return loaded;
  }
  auto functions = std::make_unique<MpvFunctions>();
  std::string missing;
  Resolve(library, "mpv_create", functions->create, missing);
  Resolve(library, "mpv_initialize", functions->initialize, missing);
  Resolve(library, "mpv_terminate_destroy", functions->terminateDestroy, missing);
  Resolve(library, "mpv_set_option_string", functions->setOptionString, missing);
  Resolve(library, "mpv_observe_property", functions->observeProperty, missing);
  Resolve(library, "mpv_set_wakeup_callback", functions->setWakeupCallback, missing);
  Resolve(library, "mpv_wait_event", functions->waitEvent, missing);
  Resolve(library, "mpv_command_async", functions->commandAsync, missing);
  Resolve(library, "mpv_command_node_async", functions->commandNodeAsync, missing);
  Resolve(library, "mpv_set_property_async", functions->setPropertyAsync, missing);
  Resolve(library, "mpv_get_property_async", functions->getPropertyAsync, missing);
  Resolve(library, "mpv_error_string", functions->errorString, missing);
  if (!missing.empty()) {
    // Left open: closing a library that may have started threads of its own is unsafe.
    loaded.error = name + " has no " + missing;
    return loaded;
  }
  loaded.functions = std::move(functions);
  qCDebug(
      lcMedia, "%s and %zu libraries it needs opened in %.0f ms", name.c_str(),
      done.size() - loadedBefore,
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  return loaded;
}

}  // namespace

MpvWork::MpvWork() {
  WorkGate& gate = Gate();
  std::lock_guard lock(gate.mutex);
  allowed_ = !gate.exiting;
  if (!allowed_) return;
  ++gate.running;
  // Registered after the loader's own exit handler, so it runs before libraries unload.
  if (!gate.registered) gate.registered = std::atexit(WaitForWorkAtExit) == 0;
}

MpvWork::~MpvWork() {
  if (!allowed_) return;
  WorkGate& gate = Gate();
  std::lock_guard lock(gate.mutex);
  if (--gate.running == 0) gate.idle.notify_all();
}

const MpvFunctions* LoadMpvLibrary(const std::string& name, std::string* error) {
  const MpvWork work;
  if (!work.Allowed()) {
    if (error != nullptr) *error = "the process is ending";
    return nullptr;
  }
  LoadedLibraries& libraries = Libraries();
  // Held while loading, so that two callers do not open the same library twice.
  std::lock_guard lock(libraries.mutex);
  auto entry = libraries.byName.find(name);
  if (entry == libraries.byName.end()) entry = libraries.byName.emplace(name, Load(name)).first;
  if (error != nullptr) *error = entry->second.error;
  return entry->second.functions.get();
}

void PreloadMpvLibrary() {
  try {
    // Detached: it touches nothing but the table above, which is never destroyed.
    std::thread([] { LoadMpvLibrary(kMpvLibraryName); }).detach();
  } catch (const std::exception&) {
    // No thread to spare: the media player loads it when it starts.
  }
}

}  // namespace newsbar
