#include "runtime/background_work.h"

namespace newsbar {

BackgroundWork::BackgroundWork(QObject* parent)
    : QObject(parent), channel_(std::make_shared<Channel>()) {
  channel_->calls = &calls_;
}

BackgroundWork::~BackgroundWork() {
  // A thread that finishes from now on finds no way back; one that is posting right now
  // is done before calls_ goes.
  std::lock_guard lock(channel_->mutex);
  channel_->calls = nullptr;
}

}  // namespace newsbar
