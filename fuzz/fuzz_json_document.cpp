// JsonDocument::Load on arbitrary catalogue text, then the reads the catalogue worker
// makes. Besides crashes and hangs it checks that a loaded text never runs as code:
// the seeds hold scripts that would set the global `fuzzRan`, and no mutation of them
// may succeed in doing so.
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "json/json_document.h"
#include "json/script_control.h"

namespace {

void ReadLikeTheWorker(newsbar::JsonDocument& document) {
  const int count = document.GetCount("data.list");
  FUZZ_CHECK(count >= 0);
  for (int k = 0; k < count && k < 3; ++k) {
    const std::string item = "data.list[" + std::to_string(k) + "]";
    document.GetText(item + ".title");
    document.GetText(item + ".audiolist[0].filePath");
    document.GetText(item + "['img194_194']");
    document.GetText(item + ".duration");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The engine refuses to exist without an application object.
  // It stays for the life of the process: destroying it from an exit handler would race
  // Qt's own teardown.
  new QCoreApplication(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // One document for the whole run: Load starts every input in a fresh engine anyway,
  // and the engine a new document would make first costs as much as the load.
  // Destroyed at exit (before Qt's own teardown), so its engine goes with it.
  static const auto kept = std::make_unique<newsbar::JsonDocument>("da");
  newsbar::JsonDocument& document = *kept;
  const bool loaded = document.Load(text);

  const auto engine = document.GetEngine();
  FUZZ_CHECK(engine != nullptr);
  FUZZ_CHECK(engine->Eval("typeof fuzzRan").ToText() == "undefined");

  const int type = document.GetType();
  if (loaded) {
    FUZZ_CHECK(type == 1 || type == 2 || type == 4 || type == 5 || type == 6);
  } else {
    FUZZ_CHECK(type == 0);
    FUZZ_CHECK(document.ToText() == "null");
  }

  ReadLikeTheWorker(document);
  document.ToText();
  std::vector<newsbar::Text> names;
  document.GetMemberNames(names);
  document.GetLeafValues(names, {}, true);
  // A copy of a part goes through a second engine and a second parse.
  if (document.GetType("data") == 4) {
    newsbar::JsonDocument part = document.GetObject("data");
    FUZZ_CHECK(part.GetCount("list") == document.GetCount("data.list"));
  }
  return 0;
}
