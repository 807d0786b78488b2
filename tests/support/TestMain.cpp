#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests run with a Qt application object, as the programs do.
int main(int argc, char** argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
