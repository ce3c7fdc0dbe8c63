// Window tests run offscreen with one application object for the process,
// and with a configuration folder of their own: they check that the program
// writes nothing there, and must not touch the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
  const QTemporaryDir config_home;
  qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
