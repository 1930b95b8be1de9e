#include "util/log.h"

namespace newsbar {

// Warnings and above unless QT_LOGGING_RULES says otherwise.
Q_LOGGING_CATEGORY(lcNet, "newsbar.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCatalogue, "newsbar.catalogue", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMedia, "newsbar.media", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDesktop, "newsbar.desktop", QtWarningMsg)

namespace {
thread_local WarningGathering* currentGathering = nullptr;
}  // namespace

WarningGathering::WarningGathering() : outer_(currentGathering) {
  currentGathering = this;
}

WarningGathering::~WarningGathering() {
  currentGathering = outer_;
}

WarningGathering* WarningGathering::Current() {
  return currentGathering;
}

}  // namespace newsbar
