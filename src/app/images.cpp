#include "app/images.h"

#include <QFile>
#include <map>
#include <string>

// The resources live in a static library: make sure their initialiser is linked and run.
// Outside any namespace, since the macro declares the generated function where it stands.
void NewsbarInitialiseResources() {
  Q_INIT_RESOURCE(newsbar);
}

namespace newsbar {

namespace {

ByteSet ReadResource(const char* path) {
  QFile file(QString::fromLatin1(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = file.readAll();
  return ByteSet(data.begin(), data.end());
}

// All pictures, read once; the references handed out stay valid for the process.
struct Pictures {
  std::map<std::string, ByteSet> byName;
  Pictures() {
    NewsbarInitialiseResources();
    for (const char* name : {"pause", "play", "loop_in_order", "loop_repeat_one", "loop_shuffle",
                             "previous", "next", "close", "list", "collapse", "retry"}) {
      byName[name] = ReadResource((std::string(":/icons/") + name + ".png").c_str());
      byName[std::string(name) + "@2x"] =
          ReadResource((std::string(":/icons/") + name + "@2x.png").c_str());
    }
    byName["loading"] = ReadResource(":/loading.gif");
  }
  const ByteSet& operator[](const std::string& name) const {
    static const ByteSet none;
    const auto found = byName.find(name);
    return found == byName.end() ? none : found->second;
  }
};

const Pictures& All() {
  static const Pictures pictures;
  return pictures;
}

}  // namespace

const ByteSet& PauseImage() {
  return All()["pause"];
}
const ByteSet& PlayImage() {
  return All()["play"];
}
const ByteSet& LoopImageInOrder() {
  return All()["loop_in_order"];
}
const ByteSet& LoopImageRepeatOne() {
  return All()["loop_repeat_one"];
}
const ByteSet& LoopImageShuffle() {
  return All()["loop_shuffle"];
}
const ByteSet& PreviousImage() {
  return All()["previous"];
}
const ByteSet& NextImage() {
  return All()["next"];
}
const ByteSet& CloseImage() {
  return All()["close"];
}
const ByteSet& ListImage() {
  return All()["list"];
}
const ByteSet& CollapseImage() {
  return All()["collapse"];
}
const ByteSet& RetryImage() {
  return All()["retry"];
}
const ByteSet& LoadingAnimation() {
  return All()["loading"];
}

const ByteSet& DoubleSizeImage(const ByteSet& picture) {
  static const ByteSet none;
  if (picture.empty()) return none;
  for (const auto& [name, bytes] : All().byName) {
    if (bytes == picture && name.find('@') == std::string::npos && name != "loading") {
      return All()[name + "@2x"];
    }
  }
  return none;
}

QIcon WindowIcon() {
  (void)All();  // registers the resources
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    icon.addFile(QString(":/icons/newsbar_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace newsbar
