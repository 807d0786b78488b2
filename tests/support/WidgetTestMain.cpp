#include <QApplication>

#include <gtest/gtest.h>

// Widget tests run with a full application object on the offscreen platform.
int main(int argc, char** argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  // Tests read the checked-out sources and the catalogues of this build.
  if (qEnvironmentVariableIsEmpty("ARDANTO_SOURCE_DIR"))
    qputenv("ARDANTO_SOURCE_DIR", ARDANTO_TEST_SOURCE_DIR);
  if (qEnvironmentVariableIsEmpty("ARDANTO_LOCALEDIR"))
    qputenv("ARDANTO_LOCALEDIR", ARDANTO_TEST_LOCALEDIR);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
