#include "catalogue/catalogue_page.h"

#include <string>

namespace newsbar {

std::vector<CatalogueEpisode> ReadPage(JsonDocument& document) {
  std::vector<CatalogueEpisode> page;
  const int count = document.GetCount("data.list");
  for (int k = 0; k < count; ++k) {
    const std::string item = "data.list[" + std::to_string(k) + "]";
    page.push_back({.title = document.GetText(item + ".title"),
                    .audioUrl = document.GetText(item + ".audiolist[0].filePath"),
                    .coverUrl = document.GetText(item + "['img194_194']"),
                    .duration = document.GetText(item + ".duration")});
  }
  return page;
}

}  // namespace newsbar
