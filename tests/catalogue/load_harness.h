// Runs the catalogue worker the way the window does (its own thread, the list and the
// hand-over box on this thread) and collects what it listed, in UTF-8 for readable
// expectations.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue_worker.h"
#include "runtime/controls.h"
#include "util/charset.h"

namespace newsbar::test {

using Row = std::array<std::string, 5>;

struct LoadResult {
  std::vector<Row> rows;  // every cell in UTF-8
  int lastRow = -99;
  int loopMode = -99;
  int signalCount = 0;  // contentChanged events of the hand-over box
  Text doneContent;
};

inline std::vector<Row> ListRows(ListView& list) {
  std::vector<Row> rows;
  for (int row = 0; row < list.RowCount(); ++row) {
    Row cells;
    for (int column = 0; column < 5; ++column) {
      cells[column] = GbkToUtf8Text(list.CellText(row, column));
    }
    rows.push_back(cells);
  }
  return rows;
}

// Titles of the rows, the form most expectations take.
inline std::vector<std::string> Titles(const std::vector<Row>& rows) {
  std::vector<std::string> titles;
  for (const Row& row : rows) titles.push_back(row[0]);
  return titles;
}

inline LoadResult RunWorker(const Endpoints& endpoints) {
  ListView list;
  list.setColumnCount(5);
  EditBox doneBox;
  std::atomic<int> lastRow{-99};
  std::atomic<int> loopMode{3};  // the worker must put it back to 1
  LoadResult result;
  QEventLoop loop;
  QObject::connect(&doneBox, &EditBox::contentChanged, &loop, [&] {
    ++result.signalCount;
    // What the window's verdict would see.
    result.lastRow = lastRow.load();
    result.rows = ListRows(list);
  });

  const WorkerTargets targets{
      .list = &list, .doneBox = &doneBox, .lastRow = &lastRow, .loopMode = &loopMode};
  // The list calls of the worker are carried to this thread, so it runs the event loop
  // until the worker has returned (every request has a time-out, so it does return).
  std::thread worker([&endpoints, &loop, targets] {
    CatalogueWorker(endpoints, targets);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  // The hand-over may still be queued behind the quit.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  result.loopMode = loopMode.load();
  result.doneContent = doneBox.Content();
  return result;
}

}  // namespace newsbar::test
