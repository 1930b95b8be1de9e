#include "support/media_files.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace newsbar::test {

namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string ToneWav(double seconds, double frequency, int sampleRate) {
  if (!(seconds > 0) || sampleRate <= 0) return {};
  const auto samples = static_cast<std::uint32_t>(seconds * sampleRate);
  const std::uint32_t dataBytes = samples * 2;
  std::string out = "RIFF";
  out.reserve(44 + dataBytes);
  PutLe(out, 36 + dataBytes, 4);
  out += "WAVEfmt ";
  PutLe(out, 16, 4);  // chunk size
  PutLe(out, 1, 2);   // PCM
  PutLe(out, 1, 2);   // mono
  PutLe(out, static_cast<std::uint32_t>(sampleRate), 4);
  PutLe(out, static_cast<std::uint32_t>(sampleRate) * 2, 4);  // bytes a second
  PutLe(out, 2, 2);                                           // block align
  PutLe(out, 16, 2);                                          // bits a sample
  out += "data";
  PutLe(out, dataBytes, 4);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    const auto sample =
        static_cast<std::int16_t>(3000 * std::sin(2 * std::numbers::pi * frequency * t));
    PutLe(out, static_cast<std::uint16_t>(sample), 2);
  }
  return out;
}

bool WriteWav(const std::string& path, double seconds, int sampleRate) {
  const std::string wav = ToneWav(seconds, 440, sampleRate);
  if (wav.empty()) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(wav.data(), static_cast<std::streamsize>(wav.size()));
  return static_cast<bool>(file.flush());
}

bool WriteMp3(const std::string& path, double seconds, bool tagged) {
  const std::string wav = path + ".source.wav";
  if (!WriteWav(wav, seconds, 44100)) return false;
  std::vector<std::string> words = {"lame", "--quiet", "-b", "64"};
  // Untagged (no frame count up front), copies joined end to end read as one stream.
  if (!tagged) words.emplace_back("-t");
  words.push_back(wav);
  words.push_back(path);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // Spawned rather than forked: a thread checker does not follow a fork of a process
  // whose threads are running.
  pid_t pid = -1;
  int status = -1;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::remove(wav.c_str());
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ByteSet ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  return ByteSet(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace newsbar::test
