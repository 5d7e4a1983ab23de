#include "mainwindow/main_window_fixture.h"

#include "operations/operation_list_file.h"

#include <QCheckBox>
#include <QDir>

namespace varnholt::test {
namespace {

class ClosingTest : public MainWindowTest {
protected:
  void OpenWithStore() {
    window = std::make_unique<frmMain>(MainWindowServices{settings, prompter, browser, dialogs,
                                                          shell, toolkit, errors, fallback.path(),
                                                          work.path(), lists.path(), &store});
    Show();
    window->txtInputDirectory->setText(images.path());
  }
  // One valid operation added through the editor: the list now differs from
  // its file.
  void AddOperation() {
    window->chkExtract->setChecked(true);
    window->txtPrefix->setText("th_");
    window->cmdAddOperation_Click();
    ASSERT_TRUE(window->ListChanged);
  }
  QString Stored(const char *key) const { return store.values.value(QString("Settings/") + key); }

  TempFolder lists;
  MemorySettingsStore store;
};

TEST_F(ClosingTest, StoresFolderPatternAndInverseWithoutAskingWhenNothingChanged) {
  OpenWithStore();
  window->txtPattern->setText("img*");
  window->chkInversePattern->setChecked(true);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(Stored("SelectedDir"), images.path());
  EXPECT_EQ(Stored("Pattern"), "img*");
  EXPECT_EQ(Stored("InversePattern"), "1");
  EXPECT_EQ(store.flushes, 1);
}

TEST_F(ClosingTest, AsksToSaveTheLoadedListAndWritesItOnYes) {
  settings.LoadedFile = lists.file("web.vop");
  OpenWithStore();
  AddOperation();
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::Yes);
  EXPECT_TRUE(window->close());
  QString error;
  Settings reread;
  EXPECT_EQ(LoadOperationsFile(lists.file("web.vop"), reread, error).size(), 1);
  EXPECT_EQ(Stored("LoadedFile"), lists.file("web.vop"));
}

TEST_F(ClosingTest, NoLeavesTheFileAloneButStillStoresTheSettings) {
  settings.LoadedFile = lists.file("web.vop");
  OpenWithStore();
  AddOperation();
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::No);
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(QFile::exists(lists.file("web.vop")));
  EXPECT_EQ(Stored("SelectedDir"), images.path());
}

TEST_F(ClosingTest, AFailedSaveKeepsTheWindowOpen) {
  // A file where the list's folder should be: no one can write there.
  WriteBytes(lists.file("plain"), "x");
  settings.LoadedFile = lists.file("plain/web.vop");
  OpenWithStore();
  AddOperation();
  QString expectedError;
  Settings scratch;
  ASSERT_FALSE(SaveOperationsFile(settings.LoadedFile, window->OperationItems(), scratch,
                                  expectedError));
  prompter.expect("Save Changes?", "Save changes to web.vop?", Buttons::YesNo, Icon::Question,
                  Answer::Yes);
  prompter.expect("File Write Error",
                  "Could not save operations to \"" + settings.LoadedFile + "\"!\r\n" +
                      expectedError,
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->ListChanged);
  EXPECT_EQ(store.flushes, 0) << "settings are stored only when the window really closes";
}

TEST_F(ClosingTest, AListWithoutAFileOffersTheSaveDialogAndStaysOpenWhenItIsCancelled) {
  OpenWithStore();
  AddOperation();
  prompter.expect("Save Changes?", "Do you want to save operations to a file?", Buttons::YesNo,
                  Icon::Question, Answer::Yes);
  dialogs.answers.push_back(std::nullopt);
  EXPECT_FALSE(window->close());
  ASSERT_EQ(dialogs.saved.size(), 1u);
  EXPECT_EQ(dialogs.saved[0].title, "Save Operation File as...");

  prompter.expect("Save Changes?", "Do you want to save operations to a file?", Buttons::YesNo,
                  Icon::Question, Answer::Yes);
  dialogs.answers.push_back(lists.file("new.vop"));
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(QFile::exists(lists.file("new.vop")));
  EXPECT_EQ(Stored("LoadedFile"), lists.file("new.vop"));
}

} // namespace
} // namespace varnholt::test
