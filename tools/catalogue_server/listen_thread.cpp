#include "catalogue_server/listen_thread.h"

#include <httplib.h>

#include <atomic>
#include <memory>

namespace newsbar::loopback {

std::thread ListenInThread(httplib::Server& server) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([&server, ended] {
    server.listen_after_bind();
    *ended = true;
  });
  while (!server.is_running() && !*ended) std::this_thread::yield();
  return thread;
}

}  // namespace newsbar::loopback
