#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  // The tests' own bus connection and processes need an application object;
  // no display is opened here.
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
