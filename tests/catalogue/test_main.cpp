#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
  // The list view, the edit box and the window need a GUI application (offscreen in CTest).
  QApplication app(argc, argv);
  // The window's media player (libmpv) refuses any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
