#pragma once

#include "mainwindow/frm_main.h"
#include "processing/magick_toolkit.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>

#include <gtest/gtest.h>

#include <memory>

namespace varnholt::test {

// A shown main window on a folder of its own, with scripted seams and the
// real ImageMagick behind a recording wrapper.
class MainWindowTest : public ::testing::Test {
protected:
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(prompter.done()) << "a message box was expected but never shown";
  }

  // Builds the window and points it at `folder` (the test's own by default).
  void Open(const QString &folder = QString()) {
    window = std::make_unique<frmMain>(MainWindowServices{settings, prompter, browser, dialogs,
                                                          shell, toolkit, errors, fallback.path(),
                                                          work.path()});
    Show();
    window->txtInputDirectory->setText(folder.isEmpty() ? images.path() : folder);
  }

  // Shows the window and lets its first activation happen.
  void Show() {
    window->show();
    QCoreApplication::processEvents();
  }

  void Make(const QStringList &names, int width = 8, int height = 6) {
    for (const QString &name : names)
      MakeImage(images.file(name), width, height);
  }
  void Touch(const QString &name) { WriteBytes(images.file(name), "x"); }

  QStringList Listed() const {
    QStringList names;
    for (int row = 0; row < window->lstImages->count(); ++row)
      names << window->lstImages->item(row)->text();
    return names;
  }
  QStringList Ticked() const {
    QStringList names;
    for (int row = 0; row < window->lstImages->count(); ++row)
      if (window->lstImages->item(row)->checkState() == Qt::Checked)
        names << window->lstImages->item(row)->text();
    return names;
  }
  QListWidgetItem *Entry(const QString &name) const {
    const auto found = window->lstImages->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
  }
  int Calls(const QString &command) const {
    int n = 0;
    for (const auto &call : toolkit.calls)
      n += call.command == command;
    return n;
  }

  TempFolder images, fallback, work;
  Settings settings;
  ScriptedPrompter prompter;
  FakeFolderBrowser browser;
  FakeFileDialogs dialogs;
  RecordingShell shell;
  MagickToolkit magick;
  RecordingToolkit toolkit{magick};
  RecordingErrorReporter errors;
  std::unique_ptr<frmMain> window;
};

} // namespace varnholt::test
