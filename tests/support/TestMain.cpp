#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests run with a Qt application object, as the programs do.
int main(int argc, char** argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  // Tests read the checked-out sources and the catalogues of this build.
  if (qEnvironmentVariableIsEmpty("ARDANTO_SOURCE_DIR"))
    qputenv("ARDANTO_SOURCE_DIR", ARDANTO_TEST_SOURCE_DIR);
  if (qEnvironmentVariableIsEmpty("ARDANTO_LOCALEDIR"))
    qputenv("ARDANTO_LOCALEDIR", ARDANTO_TEST_LOCALEDIR);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
