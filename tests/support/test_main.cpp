// The one main() of every test program. The application object is there for all of them:
// the script engine refuses to exist without one, the widgets need a GUI one (drawn off
// screen unless a platform is asked for, also when the test list is read at build time),
// and the calls carried to the window's thread need its event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  // libmpv refuses any other numeric locale, and QApplication set the user's.
  std::setlocale(LC_NUMERIC, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
