// Reading a loaded catalogue page: the worker's reads, shared with the load benchmark.
#pragma once

#include <vector>

#include "catalogue/episode_merge.h"
#include "json/json_document.h"

namespace newsbar {

// Every episode of the loaded page, its fields read by path as plain text.
std::vector<CatalogueEpisode> ReadPage(JsonDocument& document);

}  // namespace newsbar
