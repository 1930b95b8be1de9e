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
  // The three of width 0 are the program's own: not shown, not read out.
  episodeList->SetColumns({{QStringLiteral("标题"), 310},
                           {QStringLiteral("链接"), 0},
                           {QStringLiteral("图片"), 0},
                           {QStringLiteral("状态"), 85},
                           {QStringLiteral("bak"), 0}});
  // Fixed widths: the last column must not be stretched over the rest.
  episodeList->header()->setStretchLastSection(false);
}

// With nothing selected the row is -1, which stops playback.
void PlayerWindow::OnListDoubleClicked() {
  PlayEpisode(episodeList->SelectedRow());
}

// The keyboard's double-click: an empty list has no row to play, and stops nothing.
void PlayerWindow::OnListReturnPressed() {
  const int row = episodeList->SelectedRow();
  if (row >= 0) PlayEpisode(row);
}

void PlayerWindow::UpdateReachableControls() {
  for (QWidget* control :
       {static_cast<QWidget*>(episodeList), static_cast<QWidget*>(collapseButton)}) {
    const bool inView = rect().contains(control->geometry().center());
    const Qt::FocusPolicy policy = control == episodeList ? Qt::StrongFocus : Qt::TabFocus;
    control->setFocusPolicy(inView ? policy : Qt::NoFocus);
    if (!inView && control->hasFocus()) setFocus(Qt::OtherFocusReason);
  }
}

void PlayerWindow::OnListButtonClicked() {
  resize(width(), height() == kExpandedHeight ? kCollapsedHeight : kExpandedHeight);
}

void PlayerWindow::OnCollapseClicked() {
  resize(width(), kCollapsedByBarHeight);
}

}  // namespace newsbar
