#include "support/process_memory.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace newsbar::test {

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace newsbar::test
