#pragma once

#include "mainwindow/frm_main.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/list_extent.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/operation_list_panel.h"
#include "mainwindow/up_down.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "support/controls.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

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

  // Every seam scripted or in the test's own folders, the boxes asked of `asker`.
  MainWindowServices Services(Prompter &asker) {
    return {settings, asker,           browser,     dialogs,      shell, toolkit,
            errors,   fallback.path(), work.path(), lists.path(), &store};
  }

  // A box with only an OK button, shown once.
  void ExpectOk(const QString &title, const QString &text, Icon icon = Icon::Exclamation) {
    prompter.expect(title, text, Buttons::Ok, icon, Answer::Ok);
  }

  // Builds the window and points it at `folder` (the test's own by default).
  void Open(const QString &folder = QString()) {
    window = std::make_unique<frmMain>(Services(prompter));
    Show();
    Box("txtInputDirectory")->setText(folder.isEmpty() ? images.path() : folder);
  }

  // Shows the window and lets its first activation happen.
  void Show() {
    window->show();
    QCoreApplication::processEvents();
  }

  // The window's controls by object name, a helper for each kind.
  template <class T> T *Find(const QString &name) const { return Control<T>(*window, name); }
  QLineEdit *Box(const QString &name) const { return Find<QLineEdit>(name); }
  QPushButton *Button(const QString &name) const { return Find<QPushButton>(name); }
  QCheckBox *Check(const QString &name) const { return Find<QCheckBox>(name); }
  QComboBox *Combo(const QString &name) const { return Find<QComboBox>(name); }
  QLabel *Label(const QString &name) const { return Find<QLabel>(name); }
  QListWidget *List(const QString &name) const { return Find<QListWidget>(name); }
  UpDown *Spinner(const QString &name) const { return Find<UpDown>(name); }

  void Make(const QStringList &names, int width = 8, int height = 6) {
    for (const QString &name : names)
      MakeImage(images.file(name), width, height);
  }
  void Touch(const QString &name) { WriteBytes(images.file(name), "x"); }

  QStringList Listed(bool tickedOnly = false) const {
    QStringList names;
    for (int row = 0; row < List("lstImages")->count(); ++row)
      if (!tickedOnly || List("lstImages")->item(row)->checkState() == Qt::Checked)
        names << List("lstImages")->item(row)->text();
    return names;
  }
  QStringList Ticked() const { return Listed(true); }
  QListWidgetItem *Entry(const QString &name) const {
    const auto found = List("lstImages")->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
  }
  int Calls(const QString &command) const {
    int n = 0;
    for (const auto &call : toolkit.calls)
      n += call.command == command;
    return n;
  }

  TempFolder images, fallback, work, lists;
  Settings settings;
  MemorySettingsStore store; // what the window stores as it closes
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
