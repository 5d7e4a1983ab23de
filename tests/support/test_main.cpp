#include <gtest/gtest.h>

#include <QtGlobal>

#ifdef VARNHOLT_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

// The sanitizers' leak check leaves out libx265, the HEIC encoder the tests
// make their HEIC pictures with: it keeps a few blocks to the end of the
// process. The program itself never writes HEIC.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
  return "leak:libx265.so\n";
}

int main(int argc, char **argv) {
  // Test discovery runs this binary at build time, often with no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Keep the user's own settings and data folders out of reach.
  qputenv("XDG_CONFIG_HOME", QByteArray("/nonexistent-varnholt-test-config"));
  ::testing::InitGoogleTest(&argc, argv);
  TestApplication app(argc, argv);
  TestApplication::setOrganizationName(QStringLiteral("VarnholtTests"));
  TestApplication::setApplicationName(QStringLiteral("VarnholtTests"));
  return RUN_ALL_TESTS();
}
