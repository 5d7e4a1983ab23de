#include "mainwindow/frm_main.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(MainWindow, CaptionCarriesNameAndVersion) {
  frmMain window;
  EXPECT_EQ(window.windowTitle().toStdString(), "Varnholt 1.00");
  EXPECT_EQ(ProgramTitle().toStdString(), "Varnholt 1.00");
}

} // namespace
} // namespace varnholt
