// Where the catalogue and the network time come from. main() uses the build settings;
// tests and the demo point the same code at loopback servers.
#pragma once

#include <string>

namespace newsbar {

struct Endpoints {
  // Host (optionally host:port) serving both programmes, for http and https alike.
  std::string catalogueHost{};
  // URL asked with HEAD for its Date header.
  std::string timeUrl{};
  // Port overrides for the two schemes when catalogueHost carries none (0 = scheme default).
  int httpPort = 0;
  int httpsPort = 0;
};

// The compiled-in build settings NEWSBAR_CATALOGUE_HOST and NEWSBAR_TIME_URL.
Endpoints BuildEndpoints();

}  // namespace newsbar
