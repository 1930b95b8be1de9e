#include "catalogue/endpoints.h"

namespace newsbar {

Endpoints BuildEndpoints() {
  // Both come from the CMake cache variables of the same names (src/catalogue/CMakeLists.txt).
  return Endpoints{.catalogueHost = NEWSBAR_CATALOGUE_HOST, .timeUrl = NEWSBAR_TIME_URL};
}

}  // namespace newsbar
