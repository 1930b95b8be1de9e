// The episode list below the bar and the window's two heights.
#include <QHeaderView>
#include <QStringList>

#include "app/player_window.h"

namespace newsbar {

namespace {

constexpr int kCollapsedHeight = 109;       // the height at start and after the list button
constexpr int kCollapsedByBarHeight = 110;  // what the collapse bar sets
constexpr int kExpandedHeight = 332;

}  // namespace

void PlayerWindow::SetUpListColumns() {
  // Title, audio URL, cover URL, status, and a copy of the duration that the status
  // column gets back when another row starts playing.
  episodeList->setColumnCount(5);
  episodeList->setHeaderLabels({QStringLiteral("标题"), QStringLiteral("链接"),
                                QStringLiteral("图片"), QStringLiteral("状态"),
                                QStringLiteral("bak")});
  // Fixed widths: the hidden last column must not be stretched over the rest.
  episodeList->header()->setStretchLastSection(false);
  const int widths[] = {310, 0, 0, 85, 0};
  for (int column = 0; column < 5; ++column) {
    if (widths[column] == 0) {
      episodeList->setColumnHidden(column, true);
    } else {
      episodeList->setColumnWidth(column, widths[column]);
    }
  }
}

// With nothing selected the row is -1, which stops playback.
void PlayerWindow::OnListDoubleClicked() {
  PlayEpisode(episodeList->SelectedRow());
}

void PlayerWindow::OnListButtonClicked() {
  resize(width(), height() == kExpandedHeight ? kCollapsedHeight : kExpandedHeight);
}

void PlayerWindow::OnCollapseClicked() {
  resize(width(), kCollapsedByBarHeight);
}

}  // namespace newsbar
